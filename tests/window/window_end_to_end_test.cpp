// The real Lumivane-Setup.exe, windowed, under Wine and a virtual display, with the stand-in
// WebView2 runtime registered in this throwaway prefix as the updater registers the real one.
// The stand-in records what the setup did and plays the page's side of a conversation; this
// driver checks the window from outside, as another program on the desktop sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>

#include "embedded.h"
#include "languages.h"
#include "line_text.h"
#include "stand_in_registry.h"
#include "test_support.h"
#include "text.h"
#include "time_limits.h"

namespace ts = testing_support;

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>;

// What the stand-in wrote: key → values in order.
class StandInRecord {
public:
    explicit StandInRecord(const std::wstring& path) {
        std::ifstream file(std::filesystem::path(path), std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            const size_t tab = line.find('\t');
            if (tab != std::string::npos) values_[line.substr(0, tab)].push_back(unescape_line(line.substr(tab + 1)));
        }
    }
    std::string one(const std::string& key) const {
        const auto found = values_.find(key);
        return found == values_.end() || found->second.empty() ? std::string("<none>") : found->second.back();
    }
    std::vector<std::string> all(const std::string& key) const {
        const auto found = values_.find(key);
        return found == values_.end() ? std::vector<std::string>{} : found->second;
    }
    bool empty() const { return values_.empty(); }

private:
    std::map<std::string, std::vector<std::string>> values_;
};

// The record once `ready` says it holds what the test waits for (or the last one after 20 s).
StandInRecord record_when(const std::wstring& path, const std::function<bool(const StandInRecord&)>& ready) {
    for (int attempt = 0; attempt < 400; ++attempt) {
        StandInRecord record(path);
        if (ready(record)) return record;
        Sleep(50);
    }
    return StandInRecord(path);
}

std::wstring lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

unsigned long long fingerprint(std::string_view bytes) {
    unsigned long long hash = 1469598103934665603ull;
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

std::string json_path(const std::wstring& folder) {
    std::string escaped;
    for (const char c : utf16_to_utf8(folder)) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return escaped;
}

std::string init_for(const std::string& lang, const std::wstring& folder, bool auto_start) {
    return "init\n{\"lang\":\"" + lang + "\",\"version\":\"0.4.0\",\"effects\":30,\"path\":\"" + json_path(folder) +
           "\",\"auto\":" + (auto_start ? "true" : "false") + "}";
}

// Wine takes the display language from LC_ALL when the first program of a prefix starts, so a
// run shows one language; ctest runs the transcripts once per language.
std::string current_lang() {
    const std::wstring locale = ts::environment_variable(L"LC_ALL").value_or(L"");
    for (const char* lang : {"es", "pt", "ja", "id"})
        if (locale.starts_with(utf8_to_utf16(lang) + L"_")) return lang;
    return "en";
}

HWND wait_for_visible(const wchar_t* window_class, const wchar_t* title, DWORD timeout_ms = 30000) {
    for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
        if (HWND found = FindWindowW(window_class, title); found && IsWindowVisible(found)) return found;
        Sleep(50);
    }
    return nullptr;
}

void set_dword(HKEY root, const wchar_t* key_name, const wchar_t* value_name, DWORD value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, key_name, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExW(key, value_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

// Wine reads the display DPI from either place, depending on its version.
void set_display_dpi(DWORD dpi) {
    set_dword(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", dpi);
    set_dword(HKEY_CURRENT_CONFIG, L"Software\\Fonts", L"LogPixels", dpi);
}

// Ends a setup that a failed check left running, so it cannot disturb the next case.
struct EndedAtScopeExit {
    ts::Child& child;
    ~EndedAtScopeExit() { ts::wait_exit(child, 0); }
};

bool still_running(const ts::Child& child) { return WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT; }

class WindowEndToEnd : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring plugins = scratch / L"Plugins";
    std::wstring script = scratch / L"script.txt";
    std::wstring record = scratch / L"record.txt";
    std::wstring mail_record = scratch / L"mail.txt";
    std::wstring runtime_folder = scratch / L"EdgeWebView\\Application\\131.0.2903.146";

    static void SetUpTestSuite() {
        // Measure in physical pixels, as the setup's own per-monitor-aware window does.
        SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    }

    void SetUp() override {
        stand_in::unregister_all();
        ASSERT_TRUE(stand_in::place(runtime_folder));
        ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, runtime_folder));
        register_mail_program();
    }
    void TearDown() override { stand_in::unregister_all(); }

    void register_mail_program() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"mailto\\shell\\open\\command", 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring command = L"\"" + ts::test_binary(L"mail_recorder.exe") + L"\" \"%1\"";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    void write_script(const Steps& steps) {
        std::string text;
        for (const auto& [kind, value] : steps) text += kind + "\t" + escape_line(value) + "\n";
        ASSERT_TRUE(ts::write_bytes(script, text));
    }

    ts::EnvironmentChanges environment() {
        return {{L"ORVELLE_SETUP_QUIET", std::nullopt}, {L"ORVELLE_SETUP_DIR", plugins},
                {L"ORVELLE_SETUP_AUTO", std::nullopt},  {L"ORVELLE_DEVTOOLS", std::nullopt},
                {L"LOCALAPPDATA", scratch / L"Local"},  {L"LUMIVANE_STAND_IN_SCRIPT", script},
                {L"LUMIVANE_STAND_IN_RECORD", record},  {L"LUMIVANE_MAIL_RECORD", mail_record}};
    }

    // Runs a conversation that ends by itself; the exit code, nullopt on a hang.
    std::optional<DWORD> run(const Steps& steps, ts::EnvironmentChanges changes, const std::wstring& directory = L"") {
        write_script(steps);
        return ts::run_process(ts::setup_exe(), L"", changes, 90000, directory);
    }
};

TEST_F(WindowEndToEnd, TheWindowAt96And144Dpi) {
    for (const DWORD dpi : {96ul, 144ul}) {
        SCOPED_TRACE(dpi);
        set_display_dpi(dpi);
        DeleteFileW(record.c_str());
        write_script({{"page", "ready"}, {"module", "dwmapi.dll"}, {"icons", ""}});
        ts::Child child = ts::start_process(ts::setup_exe(), L"", environment());
        const EndedAtScopeExit end{child};
        const HWND window = wait_for_visible(L"LumivaneSetup", L"Lumivane");
        ASSERT_NE(window, nullptr);

        const LONG style = GetWindowLongW(window, GWL_STYLE);
        EXPECT_EQ(style & ~WS_CLIPSIBLINGS, static_cast<LONG>(0x02CA0000 | WS_VISIBLE));
        EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "neither resizable nor maximisable";

        RECT client{};
        ASSERT_TRUE(GetClientRect(window, &client));
        EXPECT_EQ(client.right, dpi == 96 ? 640 : 960);
        EXPECT_EQ(client.bottom, dpi == 96 ? 400 : 600);

        RECT outer{};
        ASSERT_TRUE(GetWindowRect(window, &outer));
        MONITORINFO monitor{};
        monitor.cbSize = sizeof(monitor);
        ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
        const RECT& work = monitor.rcWork;
        // The test display has a panel (tools/test.sh), as a desktop with a taskbar has: centring
        // on the whole monitor would place the window lower than this.
        ASSERT_LT(work.bottom - work.top, monitor.rcMonitor.bottom - monitor.rcMonitor.top)
            << "the display's work area is the whole monitor, so the centring is not checked";
        EXPECT_EQ(outer.left, (work.left + work.right - (outer.right - outer.left)) / 2);
        EXPECT_EQ(outer.top, (work.top + work.bottom - (outer.bottom - outer.top)) / 2);

        // The page's side has played its steps once the icons have been looked at.
        const StandInRecord r = record_when(record,
                                            [](const StandInRecord& played) { return played.all("step").size() == 3; });
        EXPECT_EQ(r.one("entry"), "check=1 type=0 options=null");
        EXPECT_EQ(r.one("parent_class"), "LumivaneSetup");
        EXPECT_EQ(r.one("bounds"), "0 0 " + std::to_string(client.right) + " " + std::to_string(client.bottom));
        EXPECT_EQ(r.one("background"), "255 15 13 13");
        EXPECT_EQ(r.one("visible"), "1");
        EXPECT_EQ(r.all("setting"),
                  (std::vector<std::string>{"put_AreBrowserAcceleratorKeysEnabled=0",
                                            "put_AreDefaultContextMenusEnabled=0", "put_AreDevToolsEnabled=0",
                                            "put_IsStatusBarEnabled=0", "put_IsZoomControlEnabled=0"}));
        EXPECT_EQ(r.one("page_bytes"), std::to_string(installer_page().size()));
        EXPECT_EQ(r.one("page_fingerprint"), std::to_string(fingerprint(installer_page())));
        EXPECT_EQ(r.one("page_head"), std::string(installer_page().substr(0, 64)));
        EXPECT_EQ(r.one("first_navigation"), "allowed");
        EXPECT_EQ(r.all("posted"), std::vector<std::string>{init_for(current_lang(), plugins, false)});
        EXPECT_EQ(r.one("user_data_folder"), ts::utf8(scratch / L"Local\\Orvelle\\Filters\\WebView2-Setup"));
        const std::string small = std::to_string(GetSystemMetricsForDpi(SM_CXSMICON, dpi));
        const std::string large = std::to_string(GetSystemMetricsForDpi(SM_CXICON, dpi));
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_EQ(lower(utf8_to_utf16(r.all("step").at(1))),
                  lower(L"module dwmapi.dll -> " + std::wstring(system) + L"\\dwmapi.dll"))
            << "the title bar's colours come from the system's dwmapi";
        EXPECT_EQ(r.all("step").back(), "icons  -> small " + small + "x" + small + " large " + large + "x" + large);

        // Minimised and restored, the content gets the whole client area back.
        const std::string full = "0 0 " + std::to_string(client.right) + " " + std::to_string(client.bottom);
        const size_t before = StandInRecord(record).all("bounds").size();
        ShowWindow(window, SW_MINIMIZE);
        record_when(record, [&](const StandInRecord& now) { return now.one("bounds") != full; });
        ShowWindow(window, SW_RESTORE);
        const std::vector<std::string> bounds = record_when(record, [&](const StandInRecord& now) {
                                                    return now.one("bounds") == full;
                                                }).all("bounds");
        ASSERT_GT(bounds.size(), before);
        EXPECT_NE(std::find_if(bounds.begin() + before, bounds.end(), [&](const std::string& b) { return b != full; }),
                  bounds.end())
            << "the minimised window's size reached the content";
        EXPECT_EQ(bounds.back(), full);

        // The title bar's close button does what the page's close does.
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(ts::wait_exit(child, 30000), 0u);
        EXPECT_EQ(StandInRecord(record).all("call").back(), "Close");
    }
    set_display_dpi(96);
}

// One transcript, replayed from the page's side against the real host.
struct Conversation {
    std::string name;
    std::string lang;
    bool auto_start = false;
    std::wstring path;
    Steps steps;  // (page|host|user, text)
};

std::vector<Conversation> read_transcripts() {
    std::vector<Conversation> conversations;
    std::ifstream file(std::filesystem::path(ts::test_binary(L"transcripts.txt")), std::ios::binary);
    std::string line;
    Conversation current;
    while (std::getline(file, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string key = line.substr(0, tab);
        const std::string value = unescape_line(line.substr(tab + 1));
        if (key == "conversation")
            current = Conversation{value, {}, false, {}, {}};
        else if (key == "lang")
            current.lang = value;
        else if (key == "auto")
            current.auto_start = value == "1";
        else if (key == "path")
            current.path = utf8_to_utf16(value);
        else if (key == "end")
            conversations.push_back(current);
        else
            current.steps.emplace_back(key, value);
    }
    return conversations;
}

// The transcripts' error texts are samples "<path>: <reason> (os error N)"; the real host gives
// the same path and the system's own reason for N.
std::string expected_host_text(const std::string& sample) {
    if (!sample.starts_with("error\n")) return sample;
    const size_t reason_at = sample.rfind(": ");
    const size_t code_at = sample.rfind("(os error ");
    if (reason_at == std::string::npos || code_at == std::string::npos) return sample;
    const DWORD code = std::stoul(sample.substr(code_at + 10));
    return sample.substr(0, reason_at + 2) + ts::os_reason(code);
}

TEST_F(WindowEndToEnd, TheSharedTranscriptsHoldForTheRealHost) {
    const std::vector<Conversation> conversations = read_transcripts();
    ASSERT_GE(conversations.size(), 3u);
    int replayed = 0;
    for (const Conversation& c : conversations) {
        if (c.lang != current_lang()) continue;
        ++replayed;
        SCOPED_TRACE(c.name);
        ts::remove_tree(c.path);
        DeleteFileW(mail_record.c_str());
        ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::path(c.path)) ||
                    std::filesystem::is_directory(std::filesystem::path(c.path)));
        const std::wstring blocker = c.path + L"\\Lumivane.8bf.new";

        // The page's texts go to the host; before each install, the folder is arranged so that
        // the install fails or succeeds as the transcript's answer says.
        Steps played;
        std::vector<std::string> expected_replies;
        std::optional<bool> last_install_failed;
        bool mailed = false;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const auto& [kind, text] = c.steps[i];
            if (kind == "host") {
                expected_replies.push_back(expected_host_text(text));
                continue;
            }
            if (kind != "page") continue;
            if (text == "install") {
                const bool fails = i + 1 < c.steps.size() && c.steps[i + 1].second.starts_with("error\n");
                played.emplace_back(fails ? "block" : "unblock", ts::utf8(blocker));
                last_install_failed = fails;
            }
            if (text == "mail") mailed = true;
            played.emplace_back("page", text);
        }

        ts::EnvironmentChanges changes = environment();
        changes[L"ORVELLE_SETUP_DIR"] = c.path;
        changes[L"ORVELLE_SETUP_AUTO"] = c.auto_start ? std::optional<std::wstring>(L"") : std::nullopt;
        DeleteFileW(record.c_str());
        const std::optional<DWORD> exit_code = run(played, changes);

        const StandInRecord r(record);
        EXPECT_EQ(r.all("posted"), expected_replies);
        EXPECT_EQ(exit_code, last_install_failed.value_or(false) ? 1u : 0u) << "the most recent install decides";
        if (last_install_failed == false) {
            EXPECT_EQ(ts::read_bytes(c.path + L"\\Lumivane.8bf"), ts::module_bytes()) << "done: the module is there";
        }
        if (mailed) {
            std::optional<std::string> opened;
            for (int i = 0; i < 200 && !(opened = ts::read_bytes(mail_record)); ++i) Sleep(50);
            ASSERT_TRUE(opened) << "no mail program was started";
            const std::wstring recorded(reinterpret_cast<const wchar_t*>(opened->data()), opened->size() / 2);
            const std::wstring command_line = recorded.substr(0, recorded.find(L'\n'));
            EXPECT_NE(command_line.find(L"mailto:" + utf8_to_utf16(kSupportEmail)), std::wstring::npos)
                << ts::utf8(command_line);
            // WebView2 allows no modal UI in its events, and the shell may show one: the mail
            // program must start only after the handler has returned.
            const std::vector<std::string> returned = r.all("returned");
            const auto mail = std::find_if(returned.begin(), returned.end(),
                                           [](const std::string& at) { return at.starts_with("mail "); });
            ASSERT_NE(mail, returned.end());
            EXPECT_GT(std::stoull(recorded.substr(recorded.find(L'\n') + 1)), std::stoull(mail->substr(5)))
                << "the mail program was started inside the page's message event";
        } else {
            EXPECT_FALSE(ts::exists(mail_record));
        }
        ts::remove_tree(c.path);
    }
    if (replayed == 0) GTEST_SKIP() << "no conversation in " << current_lang();
}

TEST_F(WindowEndToEnd, ThePageStaysAloneAndOddMessagesGoUnanswered) {
    const std::optional<DWORD> exit_code = run({{"page", "ready"},
                                                {"navigate", "https://example.com/"},
                                                {"new-window", "https://example.com/"},
                                                {"page-object", "{\"install\":true}"},
                                                {"page", "Install"},
                                                {"page", "install "},
                                                {"page", "ready"},
                                                {"page", "close"}},
                                               environment());
    EXPECT_EQ(exit_code, 0u);
    const StandInRecord r(record);
    const std::vector<std::string> steps = r.all("step");
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[1], "navigate https://example.com/ -> cancelled");
    EXPECT_EQ(steps[2], "new-window https://example.com/ -> handled");
    EXPECT_EQ(steps[3], "page-object {\"install\":true} -> 0x00000000");
    EXPECT_EQ(r.all("posted"), std::vector<std::string>(2, init_for(current_lang(), plugins, false)));
    EXPECT_FALSE(ts::exists(plugins));
}

TEST_F(WindowEndToEnd, SettingsFollowTheEnvironment) {
    ts::EnvironmentChanges changes = environment();
    changes[L"ORVELLE_DEVTOOLS"] = L"";
    changes[L"ORVELLE_SETUP_AUTO"] = L"";
    changes[L"LOCALAPPDATA"] = std::nullopt;
    EXPECT_EQ(run({{"page", "ready"}, {"page", "close"}}, changes), 0u);
    StandInRecord r(record);
    EXPECT_EQ(r.all("posted"), std::vector<std::string>{init_for(current_lang(), plugins, true)});
    const std::vector<std::string> settings = r.all("setting");
    EXPECT_NE(std::find(settings.begin(), settings.end(), "put_AreDevToolsEnabled=1"), settings.end());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(r.one("user_data_folder"), ts::utf8(std::wstring(temp) + L"Orvelle\\Filters\\WebView2-Setup"));

    // Set but empty: relative to the setup's current folder.
    changes[L"LOCALAPPDATA"] = L"";
    const std::wstring current = scratch / L"current";
    ASSERT_TRUE(CreateDirectoryW(current.c_str(), nullptr));
    EXPECT_EQ(run({{"page", "close"}}, changes, current), 0u);
    EXPECT_EQ(StandInRecord(record).one("user_data_folder"), "Orvelle\\Filters\\WebView2-Setup");
    EXPECT_TRUE(ts::exists(current + L"\\Orvelle\\Filters\\WebView2-Setup"));
}

TEST_F(WindowEndToEnd, AFailedAttachLeavesNoWindowAndTheMessageBoxesWait) {
    const struct {
        const char* what;
        std::string behave;  // empty: no runtime registered at all
    } cases[] = {
        {"no runtime", ""},
        {"environment fails", "environment_completion=0x80004005"},
        {"environment refuses its interface", "environment_answers=0"},
        {"controller fails", "controller_completion=0x80004004"},
        {"bounds refused", "bounds=0x80070057"},
        {"navigation refused", "navigate=0x80070057"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.behave.empty()) stand_in::unregister_all();
        write_script(c.behave.empty() ? Steps{} : Steps{{"behave", c.behave}});
        ts::Child child = ts::start_process(ts::setup_exe(), L"", environment());
        const EndedAtScopeExit end{child};
        const HWND box = wait_for_visible(L"#32770", L"Lumivane");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(FindWindowW(L"LumivaneSetup", nullptr), nullptr) << "the window is gone before the box shows";
        Sleep(1500);
        EXPECT_TRUE(IsWindow(box) && IsWindowVisible(box)) << "a left-over quit message closed the box";
        EXPECT_TRUE(still_running(child));
        wchar_t text[1024] = L"";
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        EXPECT_NE(std::wstring(text).find(L"0.4.0"), std::wstring::npos) << "the confirmation";
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(ts::wait_exit(child, 30000), 0u);
        EXPECT_FALSE(ts::exists(plugins));
        stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, runtime_folder);
    }
}

// The setup's message box, once shown (not one of an earlier case, already gone).
HWND wait_for_box() { return wait_for_visible(L"#32770", L"Lumivane"); }

std::wstring box_text(HWND box) {
    wchar_t text[4096] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    return text;
}

// Waits until the setup has ended; a message box of it meanwhile is noted and answered with
// Cancel. The exit code, or nullopt after `timeout_ms` (the setup is then ended).
std::optional<DWORD> wait_exit_noting_boxes(ts::Child& child, bool& box_seen, DWORD timeout_ms = 30000) {
    for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
        if (!still_running(child)) return ts::wait_exit(child, 0);
        if (HWND box = FindWindowW(L"#32770", L"Lumivane"); box && IsWindowVisible(box)) {
            box_seen = true;
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        }
        Sleep(50);
    }
    return ts::wait_exit(child, 0);
}

// The setup's installer window, when one of it is visible.
bool setup_window_visible() {
    const HWND window = FindWindowW(L"LumivaneSetup", nullptr);
    return window != nullptr && IsWindowVisible(window);
}

// How a test ends a start from outside: none, WM_CLOSE (as taskkill without /f sends), the
// session's end (shutdown or log-off), a quit message for the window's thread.
enum class CloseBy { None, Close, SessionEnd, Quit };

void close_during_start(HWND window, CloseBy how) {
    switch (how) {
        case CloseBy::None: break;
        case CloseBy::Close: PostMessageW(window, WM_CLOSE, 0, 0); break;
        case CloseBy::SessionEnd: {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
            EXPECT_NE(answer, 0u) << "the window refused the session's end";
            SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
            break;
        }
        case CloseBy::Quit: PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0); break;
    }
}

std::string read_log(const std::wstring& path) { return ts::read_bytes(path).value_or(""); }

// Whatever the WebView2 runtime does, the run ends with the page working or with the message
// boxes, with the right texts, exit code and log line, and never hangs. The setup with short
// time limits meets the stand-in runtime taught each fault: completions that come late or never,
// calls that block (for ever, or past the limit and then go on), processes that fail, and a
// close during a slow start. A start given up ends in the boxes within the limit and its margin,
// and whatever the blocked runtime does afterwards, no window shows and nothing starts again.
TEST_F(WindowEndToEnd, EveryRuntimeFaultEndsInThePageOrTheMessageBoxes) {
    enum class Box { Confirm, Done, Failed };
    struct Answer {
        Box box;
        int button;
    };
    const struct {
        const char* what;
        Steps script;
        bool window_first;            // the installer window shows before any box
        std::vector<Answer> answers;  // the boxes in order, and the button pressed in each
        DWORD exit_code;
        bool installed;
        std::string log;      // in the run log
        DWORD settle_ms = 0;  // the runtime acts this long after the start, while the box asks
        CloseBy close = CloseBy::None;
        int starts = 1;  // of the runtime
    } faults[] = {
        {"environment creation never completes",
         {{"behave", "environment_delivery=never"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for the WebView2 environment: message boxes"},
        {"controller creation completes after the limit",
         {{"behave", "controller_delivery=late"}, {"behave", "late_ms=6500"}},
         false,
         {{Box::Confirm, IDOK}, {Box::Done, IDOK}},
         0,
         true,
         "ms waiting for the WebView2 controller: message boxes",
         7000},
        {"the start fails late, after the setup gave up",
         {{"behave", "environment_delivery=late"},
          {"behave", "late_ms=6000"},
          {"behave", "environment_completion=0x80004005"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for the WebView2 environment: message boxes",
         6500},
        {"the runtime's entry point blocks for ever",
         {{"behave", "entry_blocks_ms=forever"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for the WebView2 runtime's entry point: message boxes"},
        {"the entry point blocks past the limit, then fails",
         {{"behave", "entry_blocks_ms=7000"}, {"behave", "environment_start=0x80004005"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for the WebView2 runtime's entry point: message boxes",
         7500},
        {"CreateCoreWebView2Controller blocks past the limit, then goes on",
         {{"behave", "controller_call_blocks_ms=7000"}},
         false,
         {{Box::Confirm, IDOK}, {Box::Done, IDOK}},
         0,
         true,
         "ms waiting for CreateCoreWebView2Controller: message boxes",
         7500},
        {"the first put_Bounds blocks for ever",
         {{"behave", "first_bounds_blocks_ms=forever"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for the controller's first calls: message boxes"},
        // The last call of the start: once it returns, the start would be complete but for the limit.
        {"NavigateToString blocks past the limit, then goes on",
         {{"behave", "navigate_blocks_ms=7000"}},
         false,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "ms waiting for NavigateToString: message boxes",
         7500},
        {"WM_CLOSE during a slow start",
         {{"behave", "environment_delivery=never"}},
         false,
         {},
         0,
         false,
         "the window was closed while WebView2 started",
         0,
         CloseBy::Close},
        {"the session ends during a slow start",
         {{"behave", "environment_delivery=never"}},
         false,
         {},
         0,
         false,
         "the window was closed while WebView2 started",
         0,
         CloseBy::SessionEnd},
        {"a quit message for the window's thread during a slow start",
         {{"behave", "controller_delivery=never"}},
         false,
         {},
         0,
         false,
         "the window was closed while WebView2 started",
         0,
         CloseBy::Quit},
        // The failures come a moment after the page's navigation started, so that the test sees the
        // window before it goes.
        {"the browser process exits once the window is shown",
         {{"pause", "1000"}, {"page", "ready"}, {"process-failed", "0"}},
         true,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "the page was lost: browser process exited"},
        {"the render process exits before ready",
         {{"pause", "1000"}, {"process-failed", "1"}},
         true,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "the page was lost: render process exited"},
        {"the page never sends ready",
         {},
         true,
         {{Box::Confirm, IDCANCEL}},
         0,
         false,
         "the page was lost: the page did not answer"},
        {"the browser process exits after an install",
         {{"pause", "1000"}, {"page", "ready"}, {"page", "install"}, {"process-failed", "0"}},
         true,
         {{Box::Done, IDOK}},
         0,
         true,
         "the page was lost: browser process exited"},
        {"the browser process exits after a failed install",
         {{"block", ts::utf8(plugins + L"\\Lumivane.8bf.new")},
          {"pause", "1000"},
          {"page", "ready"},
          {"page", "install"},
          {"process-failed", "0"}},
         true,
         {{Box::Failed, IDOK}},
         1,
         false,
         "the page was lost: browser process exited"},
        // The page then works, also past the limit for its first word: "ready" stopped that watch.
        {"the profile folder below LOCALAPPDATA is refused",
         {{"behave", "refused_folder=" + ts::utf8(scratch / L"Local")},
          {"page", "ready"},
          {"pause", "5000"},
          {"page", "close"}},
         true,
         {},
         0,
         false,
         "window run",
         0,
         CloseBy::None,
         3},  // the loader's one retry of the refused start, then the temporary folder
    };
    const SetupTexts& texts = setup_texts_for(choose_ui_language());
    const TimeLimits& limits = time_limits();
    // The setup process's own start under Wine, and the box's.
    constexpr DWORD kProcessStartMs = 2500;
    const std::wstring log = scratch / L"setup.log";
    ts::EnvironmentChanges changes = environment();
    changes[L"ORVELLE_SETUP_LOG"] = log;
    for (const auto& fault : faults) {
        SCOPED_TRACE(fault.what);
        ts::remove_tree(plugins);
        ASSERT_TRUE(CreateDirectoryW(plugins.c_str(), nullptr));
        DeleteFileW(record.c_str());
        DeleteFileW(log.c_str());
        write_script(fault.script);
        const ULONGLONG started = GetTickCount64();
        ts::Child child = ts::start_process(ts::short_limits_setup_exe(), L"", changes);
        const EndedAtScopeExit end{child};
        if (fault.window_first) {
            ASSERT_NE(wait_for_visible(L"LumivaneSetup", L"Lumivane"), nullptr);
        }
        if (fault.close != CloseBy::None) {
            // Once the runtime has been started, the hidden window is told to close.
            record_when(record, [](const StandInRecord& r) { return r.one("starts") == "1"; });
            const HWND hidden = FindWindowW(L"LumivaneSetup", nullptr);
            ASSERT_NE(hidden, nullptr);
            EXPECT_FALSE(IsWindowVisible(hidden));
            Sleep(500);
            close_during_start(hidden, fault.close);
        }
        // A close ends the run at once; otherwise the boxes ask first.
        bool box_seen = false;
        std::optional<DWORD> exit_code;
        if (fault.close != CloseBy::None) exit_code = wait_exit_noting_boxes(child, box_seen, 5000);

        for (size_t i = 0; i < fault.answers.size(); ++i) {
            const Answer& answer = fault.answers[i];
            const HWND box = wait_for_box();
            ASSERT_NE(box, nullptr) << "box " << i;
            if (i == 0 && !fault.window_first) {
                EXPECT_LT(GetTickCount64() - started,
                          limits.webview_start_ms + limits.blocked_call_margin_ms + kProcessStartMs)
                    << "the boxes came later than the start limit and its margin";
            }
            EXPECT_FALSE(setup_window_visible()) << "the window is still shown when a box shows";
            if (i == 0 && fault.settle_ms > 0) {
                // The runtime answers or returns after all, while the box asks: nothing comes of it.
                while (GetTickCount64() - started < fault.settle_ms + 500) {
                    EXPECT_FALSE(setup_window_visible()) << "a window after the box";
                    Sleep(50);
                }
                EXPECT_TRUE(still_running(child) && IsWindowVisible(box)) << "the late runtime disturbed the box";
            }
            std::string expected;
            switch (answer.box) {
                case Box::Confirm: expected = fill_placeholder(texts.confirm, "{v}", "0.4.0"); break;
                case Box::Done: expected = std::string(texts.done); break;
                case Box::Failed: {
                    const std::string reply = StandInRecord(record).one("posted");
                    ASSERT_TRUE(reply.starts_with("error\n")) << reply;
                    expected = fill_placeholder(texts.failed, "{e}", reply.substr(6));
                    break;
                }
            }
            EXPECT_EQ(ts::utf8(box_text(box)), expected) << "box " << i;
            PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer.button), 0);
            for (int wait = 0; wait < 200 && IsWindow(box); ++wait) Sleep(25);
        }

        if (fault.close == CloseBy::None) exit_code = wait_exit_noting_boxes(child, box_seen);
        EXPECT_EQ(exit_code, fault.exit_code);
        EXPECT_FALSE(box_seen) << "a box more than expected";
        EXPECT_EQ(ts::read_bytes(plugins + L"\\Lumivane.8bf") == ts::module_bytes(), fault.installed);
        EXPECT_EQ(StandInRecord(record).one("starts"), std::to_string(fault.starts)) << "the runtime started again";
        const std::string logged = read_log(log);
        EXPECT_NE(logged.find(fault.log), std::string::npos) << logged;
        EXPECT_EQ(logged.find("could not be shown"), std::string::npos) << "it was shown, or given up:\n" << logged;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(StandInRecord(record).one("user_data_folder"),
              ts::utf8(std::wstring(temp) + L"Orvelle\\Filters\\WebView2-Setup"))
        << "the refused profile gave way to the temporary folder's";
}

TEST_F(WindowEndToEnd, DllsPlantedBesideTheSetupAreNeverLoaded) {
    const std::wstring downloads = scratch / L"Downloads";
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr));
    const std::wstring exe = downloads + L"\\Lumivane-Setup.exe";
    ASSERT_TRUE(CopyFileW(ts::setup_exe().c_str(), exe.c_str(), FALSE));
    const std::vector<std::wstring> planted{L"dwmapi.dll", L"WebView2Loader.dll", L"EmbeddedBrowserWebView.dll"};
    for (const std::wstring& name : planted)
        ASSERT_TRUE(CopyFileW(ts::test_binary(L"planted.dll").c_str(), (downloads + L"\\" + name).c_str(), FALSE));

    write_script({{"page", "ready"}, {"page", "install"}, {"page", "close"}});
    EXPECT_EQ(ts::run_process(exe, L"", environment(), 90000, downloads), 0u);
    EXPECT_EQ(StandInRecord(record).all("posted").size(), 2u) << "the stand-in runtime did run";
    for (const std::wstring& name : planted)
        EXPECT_FALSE(ts::exists(downloads + L"\\" + name + L".loaded")) << ts::utf8(name);
}

}  // namespace
