// A stand-in for the WebView2 runtime's EmbeddedBrowserWebView.dll, for the end-to-end tests
// only (never shipped). The setup's own loader finds it through the registry of a throwaway Wine
// prefix, exactly as it would find the real runtime. It builds the fake WebView2 objects, records
// what the setup did with them, and plays the page's side of a scripted conversation.
//
// LUMIVANE_STAND_IN_SCRIPT names the script (UTF-8 lines "<kind>\t<escaped text>"); without it
// the stand-in plays what the installer page does by itself (page-start):
//   behave   <name>=<value>   how the fake runtime behaves (see apply_behaviour), its faults
//                             included: environment_delivery / controller_delivery = never or
//                             late (after late_ms), refused_folder=<path> (E_ACCESSDENIED below it),
//                             entry_blocks_ms / controller_call_blocks_ms / first_bounds_blocks_ms /
//                             navigate_blocks_ms = <ms> or forever (the call blocks, then goes on)
//   page     <text>           the page posts this string
//   page-start                the page's own start: "ready", and when the init it gets has
//                             "auto":true, "install" 1200 ms later
//   page-object <json>        the page posts a non-string value
//   process-failed <kind>     a WebView2 process fails (COREWEBVIEW2_PROCESS_FAILED_KIND, a number)
//   navigate <uri>            the page tries to leave
//   new-window <uri>          the page asks for a new window
//   block / unblock <path>    puts / removes a folder of that name with a file in it (a folder that
//                             is not empty cannot be cleared away, so writing a file there fails)
//   await-file <path>         waits until the test driver creates that file
//   pause    <ms>
//   module   <name>           notes where the setup's process loaded that DLL from
//   icons                     notes the sizes of the window's small and large icons (a question
//                             Wine answers only inside the window's own process)
// LUMIVANE_STAND_IN_RECORD names the record file it rewrites after every step; for each "page"
// step it notes the time (FILETIME ticks) at which the setup's handler had returned. "starts"
// counts the calls of its entry point in this process.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "environment.h"
#include "fake_webview2.h"
#include "line_text.h"
#include "text.h"

namespace fw = fake_webview2;

namespace {

struct Step {
    std::string kind;
    std::string text;
};

struct StandIn {
    std::shared_ptr<fw::World> world = std::make_shared<fw::World>();
    std::vector<Step> steps;
    size_t next_step = 0;
    bool script_started = false;
    std::wstring record_path;
    std::wstring script_path;
    std::string entry;                      // the arguments of the entry point
    std::vector<std::string> step_results;  // what each played step gave
    std::string parent_class;               // noted while the window exists
    std::vector<std::string> bounds_given;  // every put_Bounds, in order
    std::vector<std::string> returned;      // "<page text> <time>": when its handler had returned
    int starts = 0;                         // calls of the entry point
};

StandIn& stand_in() {
    static StandIn instance;
    return instance;
}

HRESULT parse_hresult(const std::string& value) { return static_cast<HRESULT>(std::stoul(value, nullptr, 0)); }

// "before", "late" (after late_ms), "never", else on the next pumped message.
fw::Delivery parse_delivery(const std::string& value) {
    if (value == "before") return fw::Delivery::BeforeReturning;
    if (value == "late") return fw::Delivery::AfterDelay;
    if (value == "never") return fw::Delivery::Never;
    return fw::Delivery::Later;
}

// Milliseconds, or "forever".
DWORD parse_block(const std::string& value) {
    return value == "forever" ? INFINITE : static_cast<DWORD>(std::stoul(value));
}

void apply_behaviour(fw::Behaviour& b, const std::string& setting) {
    const size_t equals = setting.find('=');
    const std::string name = setting.substr(0, equals);
    const std::string value = setting.substr(equals + 1);
    const bool flag = value == "1";
    if (name == "environment_start")
        b.environment_start = parse_hresult(value);
    else if (name == "environment_completion")
        b.environment_completion = parse_hresult(value);
    else if (name == "environment_object")
        b.environment_object = flag;
    else if (name == "first_environment_start")
        b.first_environment_start = parse_hresult(value);
    else if (name == "first_environment_completion")
        b.first_environment_completion = parse_hresult(value);
    else if (name == "environment_answers")
        b.environment_answers = flag;
    else if (name == "environment_delivery")
        b.environment_delivery = parse_delivery(value);
    else if (name == "controller_delivery")
        b.controller_delivery = parse_delivery(value);
    else if (name == "late_ms")
        b.late_ms = static_cast<UINT>(std::stoul(value));
    else if (name == "refused_folder")
        b.refused_folder = utf8_to_utf16(value);
    else if (name == "add_process_failed")
        b.add_process_failed = parse_hresult(value);
    else if (name == "controller_start")
        b.controller_start = parse_hresult(value);
    else if (name == "controller_completion")
        b.controller_completion = parse_hresult(value);
    else if (name == "controller_object")
        b.controller_object = flag;
    else if (name == "offer_controller2")
        b.offer_controller2 = flag;
    else if (name == "offer_settings3")
        b.offer_settings3 = flag;
    else if (name == "bounds")
        b.bounds = parse_hresult(value);
    else if (name == "visible")
        b.visible = parse_hresult(value);
    else if (name == "webview")
        b.webview = parse_hresult(value);
    else if (name == "settings")
        b.settings = parse_hresult(value);
    else if (name == "setters")
        b.setters = parse_hresult(value);
    else if (name == "add_web_message")
        b.add_web_message = parse_hresult(value);
    else if (name == "add_navigation")
        b.add_navigation = parse_hresult(value);
    else if (name == "add_new_window")
        b.add_new_window = parse_hresult(value);
    else if (name == "navigate")
        b.navigate = parse_hresult(value);
    else if (name == "post")
        b.post = parse_hresult(value);
    else if (name == "entry_blocks_ms")
        b.entry_blocks_ms = parse_block(value);
    else if (name == "controller_call_blocks_ms")
        b.controller_call_blocks_ms = parse_block(value);
    else if (name == "first_bounds_blocks_ms")
        b.first_bounds_blocks_ms = parse_block(value);
    else if (name == "navigate_blocks_ms")
        b.navigate_blocks_ms = parse_block(value);
}

void load_script(StandIn& s) {
    const auto path = environment_value(L"LUMIVANE_STAND_IN_SCRIPT");
    if (!path) {
        s.steps.push_back({"page-start", ""});
        return;
    }
    std::ifstream file(std::filesystem::path(*path), std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        Step step{line.substr(0, tab), unescape_line(line.substr(tab + 1))};
        if (step.kind == "behave")
            apply_behaviour(s.world->behaviour, step.text);
        else
            s.steps.push_back(step);
    }
}

// FNV-1a, 64 bits: lets the driver compare the whole page without the record carrying it.
unsigned long long fingerprint(std::string_view bytes) {
    unsigned long long hash = 1469598103934665603ull;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::string window_class_of(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return utf16_to_utf8(name);
}

void write_record(StandIn& s) {
    if (s.record_path.empty()) return;
    const fw::Record& r = s.world->record;
    std::ostringstream out;
    out << "entry\t" << s.entry << "\n";
    out << "starts\t" << s.starts << "\n";
    out << "user_data_folder\t" << escape_line(utf16_to_utf8(r.user_data_folder)) << "\n";
    for (const std::string& call : r.calls) out << "call\t" << call << "\n";
    if (s.parent_class.empty() && r.parent != nullptr) s.parent_class = window_class_of(r.parent);
    if (!s.parent_class.empty()) out << "parent_class\t" << s.parent_class << "\n";
    for (const std::string& bounds : s.bounds_given) out << "bounds\t" << bounds << "\n";
    if (r.background)
        out << "background\t" << int(r.background->A) << ' ' << int(r.background->R) << ' ' << int(r.background->G)
            << ' ' << int(r.background->B) << "\n";
    if (r.visible) out << "visible\t" << *r.visible << "\n";
    for (const auto& [name, value] : r.settings) out << "setting\t" << name << '=' << value << "\n";
    if (r.page) {
        const std::string page = utf16_to_utf8(*r.page);
        out << "page_bytes\t" << page.size() << "\n";
        out << "page_fingerprint\t" << fingerprint(page) << "\n";
        out << "page_head\t" << escape_line(page.substr(0, 64)) << "\n";
    }
    if (r.first_navigation_cancelled)
        out << "first_navigation\t" << (*r.first_navigation_cancelled ? "cancelled" : "allowed") << "\n";
    out << "focus_moves\t" << r.focus_moves << "\n";
    for (const std::wstring& posted : r.posted) out << "posted\t" << escape_line(utf16_to_utf8(posted)) << "\n";
    for (const std::string& result : s.step_results) out << "step\t" << escape_line(result) << "\n";
    for (const std::string& at : s.returned) out << "returned\t" << escape_line(at) << "\n";

    const std::wstring temporary = s.record_path + L".tmp";
    {
        std::ofstream file(std::filesystem::path(temporary), std::ios::binary | std::ios::trunc);
        file << out.str();
    }
    // The test driver reads the record while the setup runs; while it has the file open, the
    // replacement fails, so try again for a while.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (MoveFileExW(temporary.c_str(), s.record_path.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
        Sleep(5);
    }
}

// "16x16", or "none" when the window has no such icon.
std::string icon_size(HWND window, WPARAM which) {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) return "none";
    BITMAP bitmap{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    const LONG height = info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2;
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    return std::to_string(bitmap.bmWidth) + "x" + std::to_string(height);
}

void play_next_step();

void then_next(UINT delay_ms = 0) {
    if (delay_ms == 0)
        fw::run_later(play_next_step);
    else
        fw::run_after(delay_ms, play_next_step);
}

void play_next_step() {
    StandIn& s = stand_in();
    if (s.next_step >= s.steps.size()) return;
    const Step step = s.steps[s.next_step];  // a copy: page-start adds steps after it
    const std::wstring text = utf8_to_utf16(step.text);
    std::string result = step.kind + " " + step.text + " -> ";

    if (step.kind == "await-file") {
        if (GetFileAttributesW(text.c_str()) == INVALID_FILE_ATTRIBUTES) {
            then_next(50);  // not yet: look again
            return;
        }
        result += "present";
    } else if (step.kind == "page") {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(fw::send_page_message(*s.world, text)));
        result += code;
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        s.returned.push_back(step.text + " " +
                             std::to_string((ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime));
    } else if (step.kind == "page-start") {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(fw::send_page_message(*s.world, L"ready")));
        result += code;
        const std::vector<std::wstring>& posted = s.world->record.posted;
        if (!posted.empty() && posted.back().starts_with(L"init\n") &&
            posted.back().find(L"\"auto\":true") != std::wstring::npos) {
            s.steps.insert(s.steps.begin() + static_cast<std::ptrdiff_t>(s.next_step) + 1,
                           {Step{"pause", "1200"}, Step{"page", "install"}});
        }
    } else if (step.kind == "page-object") {
        char code[16];
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(fw::send_page_message(*s.world, std::nullopt)));
        result += code;
    } else if (step.kind == "process-failed") {
        char code[16];
        const auto kind = static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(std::atoi(step.text.c_str()));
        wsprintfA(code, "0x%08lX", static_cast<unsigned long>(fw::fail_process(*s.world, kind)));
        result += code;
    } else if (step.kind == "navigate") {
        result += fw::start_navigation(*s.world, text) ? "cancelled" : "allowed";
    } else if (step.kind == "new-window") {
        result += fw::request_new_window(*s.world, text) ? "handled" : "not handled";
    } else if (step.kind == "module") {
        const HMODULE module = GetModuleHandleW(text.c_str());
        wchar_t path[MAX_PATH] = L"";
        if (module != nullptr) GetModuleFileNameW(module, path, MAX_PATH);
        result += module != nullptr ? utf16_to_utf8(path) : std::string("not loaded");
    } else if (step.kind == "icons") {
        const HWND window = s.world->record.parent;
        result += "small " + icon_size(window, ICON_SMALL) + " large " + icon_size(window, ICON_BIG);
    } else if (step.kind == "block") {
        const std::wstring inside = text + L"\\kept";
        HANDLE file = CreateDirectoryW(text.c_str(), nullptr)
                          ? CreateFileW(inside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr)
                          : INVALID_HANDLE_VALUE;
        result += file != INVALID_HANDLE_VALUE ? "made" : "failed";
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    } else if (step.kind == "unblock") {
        DeleteFileW((text + L"\\kept").c_str());
        result += RemoveDirectoryW(text.c_str()) ? "removed" : "failed";
    }
    ++s.next_step;
    s.step_results.push_back(result);
    write_record(s);
    then_next(step.kind == "pause" ? static_cast<UINT>(std::atoi(step.text.c_str())) : 0);
}

// The page is there once the navigation NavigateToString started has been let through.
void on_call(const std::string& call) {
    StandIn& s = stand_in();
    if (call == "put_Bounds") {
        const RECT& b = *s.world->record.bounds;
        s.bounds_given.push_back(std::to_string(b.left) + ' ' + std::to_string(b.top) + ' ' + std::to_string(b.right) +
                                 ' ' + std::to_string(b.bottom));
    }
    write_record(s);
    if (call == "FirstNavigation" && !s.script_started) {
        s.script_started = true;
        then_next();
    }
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateWebViewEnvironmentWithOptionsInternal(bool check_running_instance, int runtime_type,
                                                const wchar_t* user_data_folder, IUnknown* options,
                                                ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    StandIn& s = stand_in();
    ++s.starts;
    s.record_path = environment_value(L"LUMIVANE_STAND_IN_RECORD").value_or(L"");
    // Another script is another scenario with a fresh runtime; the same one is read again, since
    // a test may rewrite it between starts (the loader's retry starts it twice).
    const std::wstring script = environment_value(L"LUMIVANE_STAND_IN_SCRIPT").value_or(L"");
    if (script != s.script_path) {
        s.world = std::make_shared<fw::World>();
        s.script_path = script;
    }
    s.world->behaviour = fw::Behaviour{};
    s.steps.clear();
    load_script(s);
    s.entry = std::string("check=") + (check_running_instance ? "1" : "0") + " type=" + std::to_string(runtime_type) +
              " options=" + (options == nullptr ? "null" : "set");
    s.world->on_call = on_call;
    return fw::start_environment(s.world, user_data_folder, handler);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
