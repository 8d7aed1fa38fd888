// Variants of the suite run alternately on one X server: each a name, the
// environment its programs get and, where it says bin=DIR, its own folder of
// programs. Rounds alternate their order (A B, then B A) so that a drift of
// the machine over the run weighs on every variant alike.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "record/run_record.h"

namespace suite_run {

struct variant {
    std::string name;
    int index = 0;                                             // 0 is A
    std::vector<std::pair<std::string, std::string>> settings;  // environment, in given order
    std::string bin_dir;                                       // "": the run's own programs
};

// At most this many variants in one run.
inline constexpr std::size_t most_variants = 64;

// "NAME[:VAR=VALUE[,VAR=VALUE...]]", bin=DIR once at most among the
// settings, "\," a comma and "\\" a backslash within a value; nullopt with
// the reason in error.
std::optional<variant> parse_variant(const std::string& text, std::string& error);

// The variants' indexes in the order round r (from 1) runs them.
std::vector<int> round_order(int variants, int round);

// As run.json and metadata.json name it; secrets hidden.
record::VariantRecord variant_record(const variant& v);

// The variant's settings as NAME=value, for its programs' environment alone
// (none for no variant): the runner's own store connection and X server
// never get them.
std::vector<std::string> environment_of(const variant* v);

// Its secret values hidden from every text the runner records or prints.
void remember_secrets(const variant& v);

// Sets a variant's environment in this process for as long as it lives, then
// puts back what was there before: for its GL probe, made in this process.
class variant_environment {
public:
    explicit variant_environment(const variant* v);
    ~variant_environment();
    variant_environment(const variant_environment&) = delete;
    variant_environment& operator=(const variant_environment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> before_;
};

}  // namespace suite_run
