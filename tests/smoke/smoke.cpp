// The windowed run, checked from outside as the user's desktop sees it. Starts the real
// Lumivane-Setup.exe with ORVELLE_SETUP_AUTO (the installer page installs by itself) into a
// scratch plug-in folder, then checks the window, the installed files, the close and the exit
// code, and keeps a picture of the window. It meets whatever WebView2 runtime the machine has:
// the installed one on Windows, the tests' stand-in under Wine.
//
//   window_smoke.exe [--setup <Lumivane-Setup.exe>] [--picture <file.bmp>] [--expect-fallback]
//
// The setup comes from --setup, else from LUMIVANE_SETUP_EXE. One line per check, and a TIME line
// for how long the WebView2 runtime took to start (to the window) and the page to install; exit code 0
// when every check passed. --expect-fallback is for a machine without a runtime: the run then
// passes only when it was reported as failed because the setup fell back to its message boxes.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "embedded.h"
#include "plain_support.h"
#include "time_limits.h"

namespace {

using testing_support::os_reason;
using testing_support::remove_tree;
using testing_support::utf8;

// Generous limits that only keep a broken run from hanging: a cold runtime start on a busy
// machine takes seconds, not minutes.
constexpr DWORD kWindowLimitMs = 90000;
constexpr DWORD kInstallLimitMs = 90000;
constexpr DWORD kExitLimitMs = 60000;
constexpr DWORD kPollMs = 100;
constexpr DWORD kWindowPollMs = 20;  // finer: the time to the window is reported

constexpr wchar_t kWindowClass[] = L"LumivaneSetup";
constexpr wchar_t kTitle[] = L"Lumivane";
constexpr wchar_t kMessageBoxClass[] = L"#32770";
constexpr std::string_view kSettingsElement = "<AllowUnknownPlugins>True</AllowUnknownPlugins>";

int checks_failed = 0;

void report(bool passed, const char* check, const std::string& detail) {
    std::printf("%s %s: %s\n", passed ? "PASS" : "FAIL", check, detail.c_str());
    std::fflush(stdout);
    if (!passed) ++checks_failed;
}

void note(const char* check, const std::string& detail) {
    std::printf("NOTE %s: %s\n", check, detail.c_str());
    std::fflush(stdout);
}

bool has_exited(HANDLE process, DWORD wait_ms = 0) { return WaitForSingleObject(process, wait_ms) == WAIT_OBJECT_0; }

DWORD exit_code(HANDLE process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

// A shown top-level window of that class and title that belongs to the setup's process.
HWND shown_window_of(DWORD process_id, const wchar_t* window_class, const wchar_t* title) {
    for (HWND window = FindWindowExW(nullptr, nullptr, window_class, title); window != nullptr;
         window = FindWindowExW(nullptr, window, window_class, title)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process_id && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

struct Options {
    std::wstring setup;
    std::wstring picture = L"smoke-window.bmp";
    bool expect_fallback = false;
};

std::optional<Options> parse_options(int argc, wchar_t** argv) {
    Options options;
    options.setup = testing_support::environment_variable(L"LUMIVANE_SETUP_EXE").value_or(L"");
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--expect-fallback")
            options.expect_fallback = true;
        else if (argument == L"--setup" && i + 1 < argc)
            options.setup = argv[++i];
        else if (argument == L"--picture" && i + 1 < argc)
            options.picture = argv[++i];
        else
            return std::nullopt;
    }
    return options;
}

struct Setup {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// The windowed run with the page's automatic start, into `plugins`; the environment is inherited,
// so it is set here first.
std::optional<Setup> start_setup(const std::wstring& exe, const std::wstring& plugins) {
    SetEnvironmentVariableW(L"ORVELLE_SETUP_QUIET", nullptr);
    SetEnvironmentVariableW(L"ORVELLE_SETUP_AUTO", L"1");
    SetEnvironmentVariableW(L"ORVELLE_SETUP_DIR", plugins.c_str());
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return std::nullopt;
    CloseHandle(info.hThread);
    return Setup{info.hProcess, info.dwProcessId};
}

enum class Arrival { Window, MessageBox, Exited, Nothing };

struct FirstSight {
    Arrival what;
    HWND window;
};

FirstSight wait_for_window(const Setup& setup) {
    for (DWORD waited = 0; waited < kWindowLimitMs; waited += kWindowPollMs) {
        if (HWND window = shown_window_of(setup.id, kWindowClass, kTitle)) return {Arrival::Window, window};
        if (HWND box = shown_window_of(setup.id, kMessageBoxClass, kTitle)) return {Arrival::MessageBox, box};
        if (has_exited(setup.process, kWindowPollMs)) return {Arrival::Exited, nullptr};
    }
    return {Arrival::Nothing, nullptr};
}

// Milliseconds from the setup process's creation until now.
unsigned long long ms_since_start(const Setup& setup) {
    FILETIME created{}, exited{}, kernel{}, user{}, now{};
    if (!GetProcessTimes(setup.process, &created, &exited, &kernel, &user)) return 0;
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; };
    return ticks(now) > ticks(created) ? (ticks(now) - ticks(created)) / 10000 : 0;
}

// One line per figure, "TIME <what>: <ms> ms ...", which run-on-windows.ps1 puts into the job's
// summary: how long this machine's WebView2 runtime takes to start, against the setup's limit.
void report_time(const char* what, unsigned long long ms, const std::string& detail) {
    std::printf("TIME %s: %llu ms %s\n", what, ms, detail.c_str());
    std::fflush(stdout);
}

// The client area is 640 x 400 at 96 DPI, scaled by the window's DPI (never below 96).
void check_size(HWND window) {
    const UINT reported = GetDpiForWindow(window);
    const UINT dpi = reported < 97 ? 96 : reported;
    const LONG width = static_cast<LONG>(640 * dpi / 96);
    const LONG height = static_cast<LONG>(400 * dpi / 96);
    RECT client{};
    GetClientRect(window, &client);
    report(client.right == width && client.bottom == height, "size",
           "client area " + std::to_string(client.right) + " x " + std::to_string(client.bottom) + " at " +
               std::to_string(reported) + " DPI (expected " + std::to_string(width) + " x " + std::to_string(height) +
               ")");
}

// The page starts the installation by itself; the module and the settings file appear whole.
bool check_installed(const Setup& setup, const std::wstring& scratch) {
    const EmbeddedBytes embedded = plugin_module();
    const std::string_view module(reinterpret_cast<const char*>(embedded.data), embedded.size);
    const std::wstring module_path = scratch + L"\\Plugins\\Lumivane.8bf";
    const std::wstring settings_path = scratch + L"\\Settings\\PhotoshopPluginsPreferences.xml";
    std::optional<std::string> found_module;
    std::optional<std::string> found_settings;
    const auto module_whole = [&] { return found_module && *found_module == module; };
    const auto settings_allow = [&] {
        return found_settings && found_settings->find(kSettingsElement) != std::string::npos;
    };
    for (DWORD waited = 0; waited < kInstallLimitMs; waited += kPollMs) {
        found_module = testing_support::read_bytes(module_path);
        found_settings = testing_support::read_bytes(settings_path);
        if ((module_whole() && settings_allow()) || has_exited(setup.process, kPollMs)) break;
    }
    if (module_whole())
        report(true, "module",
               utf8(module_path) + " holds the embedded module's " + std::to_string(module.size()) + " bytes");
    else if (found_module)
        report(false, "module",
               utf8(module_path) + " holds " + std::to_string(found_module->size()) +
                   " bytes that are not the embedded module's " + std::to_string(module.size()));
    else
        report(false, "module", "no " + utf8(module_path) + ": the page did not install by itself");
    report(settings_allow(), "settings",
           utf8(settings_path) + (settings_allow() ? " holds " + std::string(kSettingsElement)
                                  : found_settings ? " lacks " + std::string(kSettingsElement)
                                                   : " is missing"));
    return module_whole();
}

bool write_bitmap(const std::wstring& path, const BITMAPINFOHEADER& header, const void* pixels, DWORD pixel_bytes) {
    BITMAPFILEHEADER file_header{};
    file_header.bfType = 0x4D42;  // "BM"
    file_header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file_header.bfSize = file_header.bfOffBits + pixel_bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, &file_header, sizeof(file_header), &written, nullptr) &&
                    WriteFile(file, &header, sizeof(header), &written, nullptr) &&
                    WriteFile(file, pixels, pixel_bytes, &written, nullptr) && written == pixel_bytes;
    CloseHandle(file);
    return ok;
}

// The client area as the system composes it, WebView2 content included, saved as a BMP. A system
// that cannot print the window is noted, not failed.
void save_picture(HWND window, const std::wstring& path) {
    RECT client{};
    GetClientRect(window, &client);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = client.bottom;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (bitmap == nullptr || memory == nullptr) {
        note("picture", "no bitmap of " + std::to_string(client.right) + " x " + std::to_string(client.bottom));
    } else {
        const HGDIOBJ previous = SelectObject(memory, bitmap);
        const BOOL printed = PrintWindow(window, memory, PW_CLIENTONLY | PW_RENDERFULLCONTENT);
        const DWORD error = GetLastError();
        GdiFlush();
        const DWORD pixel_count = static_cast<DWORD>(client.right) * static_cast<DWORD>(client.bottom);
        if (!printed) {
            note("picture", "PrintWindow failed: " + os_reason(error) + "; no picture");
        } else if (!write_bitmap(path, info.bmiHeader, bits, pixel_count * 4)) {
            report(false, "picture", "could not write " + utf8(path) + ": " + os_reason(GetLastError()));
        } else {
            // A picture of one colour holds nothing of the page: the system printed no content.
            const auto* pixels = static_cast<const DWORD*>(bits);
            DWORD differing = 0;
            for (DWORD i = 1; i < pixel_count; ++i)
                if ((pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF)) ++differing;
            char first[16];
            std::snprintf(first, sizeof(first), "#%06lX", static_cast<unsigned long>(pixels[0] & 0xFFFFFF));
            report(true, "picture",
                   "saved " + utf8(path) + " (" + std::to_string(client.right) + " x " + std::to_string(client.bottom) +
                       ", " +
                       (differing == 0 ? "all of it " + std::string(first) + ": no page content in it"
                                       : std::to_string(differing * 100ull / pixel_count) +
                                             "% of it unlike its bottom-left corner, " + first) +
                       ")");
        }
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    if (memory != nullptr) DeleteDC(memory);
}

// Posts the closing message (WM_CLOSE, as the title bar's close button; or a message box's
// Cancel); the setup must then end with 0.
void check_close(const Setup& setup, HWND window, UINT message, WPARAM argument, const char* how) {
    PostMessageW(window, message, argument, 0);
    if (!has_exited(setup.process, kExitLimitMs)) {
        report(false, "close",
               std::string("the setup still runs ") + std::to_string(kExitLimitMs / 1000) + " s after " + how);
        return;
    }
    const DWORD code = exit_code(setup.process);
    report(code == 0, "close", std::string("after ") + how + " the setup exited with code " + std::to_string(code));
}

std::wstring message_box_text(HWND box) {
    wchar_t text[2048] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 2048);  // the box's static text
    std::wstring flat = text;
    for (wchar_t& c : flat)
        if (c == L'\r' || c == L'\n') c = L' ';
    return flat;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes in physical pixels, as the setup's per-monitor-aware window has them.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        std::fputs("usage: window_smoke [--setup <Lumivane-Setup.exe>] [--picture <file.bmp>] [--expect-fallback]\n",
                   stderr);
        return 2;
    }
    if (options->setup.empty()) {
        report(false, "setup", "no setup given: pass --setup <path> or set LUMIVANE_SETUP_EXE");
        return 1;
    }

    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring scratch = std::wstring(temp) + L"lumivane-smoke-" + std::to_wstring(GetCurrentProcessId()) +
                                 L"-" + std::to_wstring(GetTickCount64());
    const std::wstring plugins = scratch + L"\\Plugins";
    CreateDirectoryW(scratch.c_str(), nullptr);

    const std::optional<Setup> setup = start_setup(options->setup, plugins);
    report(setup.has_value(), "start",
           setup ? utf8(options->setup) + " started with ORVELLE_SETUP_AUTO, ORVELLE_SETUP_DIR=" + utf8(plugins)
                 : "could not start " + utf8(options->setup) + ": " + os_reason(GetLastError()));
    if (!setup) {
        remove_tree(scratch);
        return 1;
    }

    const FirstSight sight = wait_for_window(*setup);
    switch (sight.what) {
        case Arrival::Window:
            // The window shows once WebView2's environment and controller exist and the page's
            // navigation has started: this is how long the runtime took to start.
            report_time("window", ms_since_start(*setup),
                        "from the setup's start to its window (WebView2 started; the setup gives up after " +
                            std::to_string(time_limits().webview_start_ms) + " ms)");
            report(true, "window", "class \"LumivaneSetup\", title \"Lumivane\", shown");
            check_size(sight.window);
            if (check_installed(*setup, scratch)) {
                report_time("page", ms_since_start(*setup),
                            "from the setup's start to the installed module (the page loaded, spoke and installed)");
                Sleep(2000);  // lets the page show its done screen before the picture
            }
            if (IsWindow(sight.window)) save_picture(sight.window, options->picture);
            check_close(*setup, sight.window, WM_CLOSE, 0, "WM_CLOSE");
            break;
        case Arrival::MessageBox:
            report(
                false, "window",
                "a message box titled \"Lumivane\" came instead of the installer window: the WebView2 runtime did not "
                "start, so the setup fell back to its message boxes (the box says: " +
                    utf8(message_box_text(sight.window)) + ")");
            check_close(*setup, sight.window, WM_COMMAND, IDCANCEL, "Cancel in the message box");
            {
                const bool absent = GetFileAttributesW(plugins.c_str()) == INVALID_FILE_ATTRIBUTES;
                report(absent, "nothing installed",
                       "after Cancel, " + utf8(plugins) + (absent ? " does not exist" : " exists"));
            }
            break;
        case Arrival::Exited:
            report(false, "window",
                   "the setup ended with exit code " + std::to_string(exit_code(setup->process)) +
                       " before any window of it appeared");
            break;
        case Arrival::Nothing:
            report(false, "window",
                   "neither the installer window nor a message box appeared within " +
                       std::to_string(kWindowLimitMs / 1000) + " s");
            break;
    }

    if (!has_exited(setup->process)) {
        TerminateProcess(setup->process, 1);  // a failed check left it running
        has_exited(setup->process, kExitLimitMs);
    }
    CloseHandle(setup->process);
    remove_tree(scratch);

    if (options->expect_fallback) {
        // Here the fallback's failure line above is what is under test: it must be the only failure.
        const bool as_expected = sight.what == Arrival::MessageBox && checks_failed == 1;
        std::printf("%s expect-fallback: %s\n", as_expected ? "PASS" : "FAIL",
                    as_expected ? "the missing runtime was reported as a failed window check"
                                : "the run did not end in the reported message-box fallback alone");
        return as_expected ? 0 : 1;
    }
    std::printf(checks_failed == 0 ? "smoke: every check passed\n" : "smoke: %d check(s) failed\n", checks_failed);
    return checks_failed == 0 ? 0 : 1;
}
