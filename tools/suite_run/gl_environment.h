// Which GL a program gets is decided by its environment, which a wrapper
// (bin=DIR) may change on the way: read from the running program itself and
// set against what its GL was probed with.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "record/run_record.h"

namespace suite_run {

// Mesa's, GLX's, libGL's and NVIDIA's variables, LD_LIBRARY_PATH and LD_PRELOAD.
bool is_gl_variable(const std::string& name);

// The GL variables an in-process probe runs with: this process's environment
// now, but the loader's two as this process started (libraries are loaded
// once, so a later value never reaches its probe).
record::GlEnvironment probe_environment();

// The GL variables of the program started as pid, read from /proc/PID/environ
// of the newest deepest process of its tree: where a wrapper starts the real
// program without exec, that one. None when it cannot be read.
std::optional<record::GlEnvironment> program_environment(pid_t pid);

// What differs, as "GALLIUM_DRIVER=softpipe in the program, unset when
// probed"; "" when nothing does.
std::string environment_difference(const record::GlEnvironment& probed,
                                   const record::GlEnvironment& program);

}  // namespace suite_run
