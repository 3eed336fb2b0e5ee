// Watching a running host, on a thread of its own, until it has quit, then doing what the caller
// handed in: the watch knows whom to wait for, not what comes after.
#pragma once
#include <functional>
#include <vector>

#include "host_search.h"

// Run once every watched host has quit: the preferences edited again, set-aside copies deleted.
using AfterHostQuit = std::function<void()>;

// What the background task owns: whom to wait for and what to do afterwards.
struct HostWatch {
    HostSearch search;                   // searched again for a process that cannot be opened
    std::vector<ProcessId> process_ids;  // in the order the system listed them; never empty
    AfterHostQuit after_quit;
};

// Looks for running host processes and, when there are any, starts the one background task
// and hands its thread to BackgroundTaskSlot. Returns without waiting; never fails.
void start_host_watch(const HostSearch& search, AfterHostQuit after_quit);

// Waits for every listed process to end, then runs `after_quit`.
void host_watch_task(HostWatch watch);
