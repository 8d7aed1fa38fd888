#include "suite_run/programs.h"

#include <cstdint>

#include "index_count.h"
#include "mesh.h"

namespace suite_run {

namespace {

// triangles ends itself once a frame's index count passes its mesh: the
// frames before that, by the program's own formula (the k-th measured frame
// is drawn at tick k, after k - 1 measured ones).
int triangles_last_frame() {
    for (std::int64_t k = 1; k < 1000000; ++k)
        if (triangles::index_count_for(k, k - 1) > triangles::mesh_value_count)
            return static_cast<int>(k);
    return 0;
}

// triangles runs to its limit in a small window: at full size its last
// frames take hours in software, in 64 by 64 the whole run a few minutes.
const program_entry programs[] = {
    {texts::find_program("cube"), 3, 0, 0},
    {texts::find_program("screens"), 10, 0, 0},
    {texts::find_program("triangles"), 0, 64, 64, triangles_last_frame()},
};

}  // namespace

std::vector<const program_entry*> choose_programs(const options& o) {
    std::vector<const program_entry*> chosen;
    for (auto& p : programs)
        if (o.names.empty()) chosen.push_back(&p);
    for (auto& n : o.names)
        for (auto& p : programs)
            if (n == p.texts->name) chosen.push_back(&p);
    return chosen;
}

}  // namespace suite_run
