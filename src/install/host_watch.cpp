// Finding the running host and waiting, on a thread of its own, until it has quit.
#include "host_watch.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "background_task.h"
#include "run_log.h"
#include "win32_handles.h"

namespace {

constexpr DWORD kPollIntervalMs = 250;

bool is_listed(const std::vector<ProcessId>& ids, ProcessId id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// A process that could not be opened (already gone, or access refused) is watched through the
// process list instead, for as long as its id is listed as a host.
void wait_until_unlisted(const HostSearch& search, ProcessId id) {
    while (is_listed(find_host_processes(search), id)) Sleep(kPollIntervalMs);
}

void wait_for_process(const HostSearch& search, ProcessId id) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) {
        wait_until_unlisted(search, id);
        return;
    }
    WaitForSingleObject(process.get(), INFINITE);
}

DWORD WINAPI run_host_watch(void* parameter) {
    std::unique_ptr<HostWatch> watch(static_cast<HostWatch*>(parameter));
    // Nothing may leave a thread's entry function; the task's outcome is never looked at anyway.
    try {
        host_watch_task(std::move(*watch));
    } catch (...) {}
    return 0;
}

}  // namespace

void host_watch_task(HostWatch watch) {
    for (const ProcessId id : watch.process_ids) wait_for_process(watch.search, id);
    log_event("the host has quit");
    if (watch.after_quit) watch.after_quit();
}

void start_host_watch(const HostSearch& search, AfterHostQuit after_quit) {
    std::vector<ProcessId> ids = find_host_processes(search);
    if (ids.empty()) return;

    auto watch = std::make_unique<HostWatch>(HostWatch{search, std::move(ids), std::move(after_quit)});
    UniqueHandle thread(CreateThread(nullptr, 0, run_host_watch, watch.get(), 0, nullptr));
    // Without a thread the installation still stands; the preferences stay as just written.
    if (!thread) return;
    watch.release();  // the thread owns it now
    log_event("waiting for the host to quit");
    BackgroundTaskSlot::put(std::move(thread));
}
