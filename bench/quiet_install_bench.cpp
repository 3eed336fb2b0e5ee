// Times the real quiet install against the write-and-rename floor, alternating runs in the same
// folder, and reports medians, their ratio and the peak working set of each, side by side.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Run {
    double milliseconds = 0;
    SIZE_T peak_working_set = 0;
    DWORD exit_code = 0;
};

// The child's environment: ours plus the quiet switch and the target folder.
std::wstring environment_with(const std::wstring& folder) {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        if (entry.rfind(L"ORVELLE_", 0) == 0) continue;
        block += entry + L'\0';
    }
    FreeEnvironmentStringsW(strings);
    block += std::wstring(L"ORVELLE_SETUP_QUIET=") + L'\0';
    block += L"ORVELLE_SETUP_DIR=" + folder + L'\0';
    block += L'\0';
    return block;
}

Run run(const std::wstring& command, std::wstring& environment, bool watch_memory = false) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring line = command;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Run result;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &startup, &info)) {
        result.exit_code = 0xFFFFFFFF;
        return result;
    }
    // Some systems (Wine) forget an ended process's counters, so the peak is also sampled while
    // the process runs; the peak only grows, so the last sample is the closest.
    auto sample_peak = [&] {
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(info.hProcess, &memory, sizeof memory))
            result.peak_working_set = std::max(result.peak_working_set, memory.PeakWorkingSetSize);
    };
    if (watch_memory) {
        while (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) sample_peak();
    } else {
        WaitForSingleObject(info.hProcess, INFINITE);
    }
    QueryPerformanceCounter(&end);
    sample_peak();
    GetExitCodeProcess(info.hProcess, &result.exit_code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    result.milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: quiet_install_bench <setup.exe> <floor.exe> <folder> <module bytes> [runs]\n");
        return 2;
    }
    const std::wstring setup = argv[1], floor = argv[2], folder = argv[3], bytes = argv[4];
    const int runs = argc > 5 ? _wtoi(argv[5]) : 15;
    std::wstring environment = environment_with(folder);
    std::vector<double> setup_times, floor_times;
    SIZE_T peak = 0, floor_peak = 0;
    // One unmeasured round of each first, so both find the folder and the file cache warm.
    run(L"\"" + setup + L"\"", environment);
    run(L"\"" + floor + L"\" \"" + folder + L"\" " + bytes, environment);
    for (int i = 0; i < runs; ++i) {
        const Run s = run(L"\"" + setup + L"\"", environment);
        const Run f = run(L"\"" + floor + L"\" \"" + folder + L"\" " + bytes, environment);
        if (s.exit_code != 0 || f.exit_code != 0) {
            std::fprintf(stderr, "a run failed: setup %lu, floor %lu\n", s.exit_code, f.exit_code);
            return 1;
        }
        setup_times.push_back(s.milliseconds);
        floor_times.push_back(f.milliseconds);
        peak = std::max(peak, s.peak_working_set);
        floor_peak = std::max(floor_peak, f.peak_working_set);
    }
    // Memory is watched in runs of its own, alternating as the timed ones: the sampling would
    // disturb those.
    for (int i = 0; i < 5; ++i) {
        peak = std::max(peak, run(L"\"" + setup + L"\"", environment, true).peak_working_set);
        floor_peak = std::max(floor_peak, run(L"\"" + floor + L"\" \"" + folder + L"\" " + bytes, environment, true).peak_working_set);
    }
    const double s = median(setup_times), f = median(floor_times);
    std::printf("quiet install median: %.1f ms over %d runs\n", s, runs);
    std::printf("write+rename floor median: %.1f ms over %d runs\n", f, runs);
    std::printf("ratio (target <= 1.15): %.3f\n", s / f);
    std::printf("fastest runs: quiet install %.1f ms, floor %.1f ms\n",
                *std::min_element(setup_times.begin(), setup_times.end()),
                *std::min_element(floor_times.begin(), floor_times.end()));
    if (peak > 0 && floor_peak > 0) {
        const double mib = 1048576.0;
        std::printf("peak working set: quiet install %.2f MiB, write+rename floor %.2f MiB, difference %.2f MiB (target <= 2)\n",
                    static_cast<double>(peak) / mib, static_cast<double>(floor_peak) / mib,
                    (static_cast<double>(peak) - static_cast<double>(floor_peak)) / mib);
    } else {
        std::printf("peak working set: not reported by the system\n");
    }
    return 0;
}
