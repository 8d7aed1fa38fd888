// The processes a tool's children leave behind. A daemon that detaches
// (setsid, its output closed, SIGTERM ignored) is no longer in its starter's
// group; as a child subreaper the tool gets such orphans back as children,
// so it can count them with the program that made them and end them.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace process {

// Makes this process the reaper of its descendants' orphans; false when the
// kernel refuses.
bool adopt_orphans();

// The children of pid, of all its threads, zombies included; none once it
// is gone.
std::vector<pid_t> children_of(pid_t pid);

// pids and all their descendants, each once, parents before children; at
// most `limit` of them.
std::vector<pid_t> with_descendants(const std::vector<pid_t>& pids, std::size_t limit);

// Ends every child of this process but those in `keep`, with whatever they
// started, and reaps them: the processes that were still running when ended.
std::vector<pid_t> end_children_but(const std::vector<pid_t>& keep);

}  // namespace process
