// The site's comparisons: two rows of the matrix (two machines, or one
// machine's two drivers), program by program, by compare's own code.
#pragma once

#include <string>
#include <vector>

#include "suite_report/store_tables.h"

namespace suite_report {

// Every pair of rows of one window size, up to max_pairwise_rows rows; past
// that each row against the row in the middle of its group. Writes
// compare/index.html and a page per pair; false once one could not be written.
inline constexpr std::size_t max_pairwise_rows = 64;
bool write_comparisons(store::Db& db, const std::string& folder, const std::vector<Group>& groups);

}  // namespace suite_report
