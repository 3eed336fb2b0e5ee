// The window side's pure rules: the init message byte for byte, JSON escaping, page message
// matching and replies, window size and centring, the user-data folder, and how a registered
// runtime's folder becomes the DLL path, the window start's one-way settling and deadlines, and
// how the window's end becomes the exit code and the log line.
#include <gtest/gtest.h>

#include "page_bridge.h"
#include "page_protocol.h"
#include "start_watch.h"
#include "time_limits.h"
#include "webview2_runtime.h"
#include "window_layout.h"
#include "window_result.h"

namespace {

TEST(InitMessage, ExampleForAnEnglishUser) {
    EXPECT_EQ(build_init_message("en", "0.4.0", L"C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins", false),
              L"init\n{\"lang\":\"en\",\"version\":\"0.4.0\",\"effects\":30,"
              L"\"path\":\"C:\\\\Users\\\\demo\\\\.affinity\\\\Affinity\\\\3.0\\\\Plugins\",\"auto\":false}");
}

TEST(InitMessage, EmptyPathAndAutomaticStart) {
    EXPECT_EQ(build_init_message("ja", "0.4.0", L"", true),
              L"init\n{\"lang\":\"ja\",\"version\":\"0.4.0\",\"effects\":30,\"path\":\"\",\"auto\":true}");
}

TEST(InitMessage, ControlCharactersInTheFolderStayValidJson) {
    // A folder from ORVELLE_SETUP_DIR may hold a tab or a line feed; raw, they break JSON.parse.
    EXPECT_EQ(build_init_message("es", "0.4.0", L"D:\\a\tb\nc\x01\x1f", false),
              L"init\n{\"lang\":\"es\",\"version\":\"0.4.0\",\"effects\":30,"
              L"\"path\":\"D:\\\\a\\u0009b\\u000ac\\u0001\\u001f\",\"auto\":false}");
}

TEST(JsonEscape, OnlyBackslashQuoteAndControlCharacters) {
    EXPECT_EQ(json_escape(""), "");
    EXPECT_EQ(json_escape("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(json_escape("\\\""), "\\\\\\\"");  // the backslash added for the quote is not doubled
    EXPECT_EQ(json_escape(std::string("x\0y", 3)), "x\\u0000y");
    EXPECT_EQ(json_escape("\x7f /'<>&"), "\x7f /'<>&");
    EXPECT_EQ(json_escape("C:\\Usuários\\ユーザー\\\xEF\xBF\xBD"), "C:\\\\Usuários\\\\ユーザー\\\\\xEF\xBF\xBD");
}

TEST(PageMessages, ExactlyTheFourTexts) {
    EXPECT_EQ(match_page_message("ready"), PageRequest::Ready);
    EXPECT_EQ(match_page_message("install"), PageRequest::Install);
    EXPECT_EQ(match_page_message("mail"), PageRequest::Mail);
    EXPECT_EQ(match_page_message("close"), PageRequest::Close);
    for (const char* other : {"", "Install", "INSTALL", "install ", " install", "install\n", "installx", "instal",
                              "\"install\"", "ready\n", "Close", "mail:"}) {
        EXPECT_EQ(match_page_message(other), PageRequest::Unknown) << other;
    }
    EXPECT_EQ(match_page_message(std::string_view("install\0", 8)), PageRequest::Unknown);
}

// The failure flag comes from the install's outcome, not from these texts: see the bridge test.
TEST(PageMessages, InstallReplies) {
    EXPECT_EQ(install_reply(Status::success()), "done");
    EXPECT_EQ(install_reply(Status::failure("C:\\x: Access denied. (os error 5)\nmore")),
              "error\nC:\\x: Access denied. (os error 5)\nmore");
    EXPECT_EQ(install_reply(Status::failure("")), "error\n");
}

TEST(WindowLayout, ClientSizeScalesWithIntegerDivision) {
    const struct {
        UINT dpi;
        int width;
        int height;
    } cases[] = {{96, 640, 400},   {120, 800, 500}, {144, 960, 600},  {100, 666, 416},
                 {192, 1280, 800}, {97, 646, 404},  {288, 1920, 1200}};
    for (const auto& c : cases) {
        const ClientSize size = scaled_client_size(effective_dpi(c.dpi));
        EXPECT_EQ(size.width, c.width) << c.dpi;
        EXPECT_EQ(size.height, c.height) << c.dpi;
    }
}

TEST(WindowLayout, LowOrUnknownDpiCountsAs96) {
    for (UINT reported : {0u, 1u, 72u, 95u, 96u}) EXPECT_EQ(effective_dpi(reported), 96u) << reported;
    EXPECT_EQ(effective_dpi(97), 97u);
}

TEST(WindowLayout, CentredInTheWorkAreaRoundingTowardZero) {
    // A taskbar at the bottom: the window sits higher by half its height.
    EXPECT_EQ(centred_position(RECT{0, 0, 1920, 1040}, 656, 439).x, 632);
    EXPECT_EQ(centred_position(RECT{0, 0, 1920, 1040}, 656, 439).y, 300);
    // A monitor left of the primary one: negative sums round toward zero, not down.
    const POINT left = centred_position(RECT{-1280, 0, 0, 1024}, 657, 441);
    EXPECT_EQ(left.x, -968);  // (-1280 + 0 - 657) / 2 = -968.5
    EXPECT_EQ(left.y, 291);
    // A window larger than the work area starts left of and above it.
    const POINT big = centred_position(RECT{0, 0, 800, 600}, 1000, 700);
    EXPECT_EQ(big.x, -100);
    EXPECT_EQ(big.y, -50);
}

TEST(UserDataFolder, BelowLocalAppDataElseTheTemporaryFolder) {
    EXPECT_EQ(user_data_folder_for(std::wstring(L"C:\\Users\\demo\\AppData\\Local"), L"C:\\Temp\\"),
              L"C:\\Users\\demo\\AppData\\Local\\Orvelle\\Filters\\WebView2-Setup");
    EXPECT_EQ(user_data_folder_for(std::nullopt, L"C:\\Users\\demo\\AppData\\Local\\Temp\\"),
              L"C:\\Users\\demo\\AppData\\Local\\Temp\\Orvelle\\Filters\\WebView2-Setup");
    // Set but empty counts as set: relative to the current folder.
    EXPECT_EQ(user_data_folder_for(std::wstring(), L"C:\\Temp\\"), L"Orvelle\\Filters\\WebView2-Setup");
}

TEST(RuntimeVersion, FourNumbersOnly) {
    EXPECT_EQ(parse_runtime_version(L"131.0.2903.146"), (RuntimeVersion{131, 0, 2903, 146}));
    EXPECT_EQ(parse_runtime_version(L"0.0.0.0"), (RuntimeVersion{0, 0, 0, 0}));
    for (const wchar_t* bad :
         {L"", L"131", L"131.0.2903", L"131.0.2903.146.1", L"131.0.2903.", L".0.2903.146", L"131..2903.146",
          L"131.0.2903.14a", L"v131.0.2903.146", L"131.0.-1.4", L"131.0.2903.146 ", L"1234567890.0.0.0"}) {
        EXPECT_FALSE(parse_runtime_version(bad).has_value()) << testing::PrintToString(std::wstring(bad));
    }
}

TEST(RuntimeVersion, ComparedAsNumbersAgainstTheFloor) {
    EXPECT_TRUE(runtime_version_at_least({86, 0, 616, 0}, kOldestUsableRuntime));
    EXPECT_TRUE(runtime_version_at_least({100, 0, 0, 0}, kOldestUsableRuntime));  // "100" < "86" as text
    EXPECT_TRUE(runtime_version_at_least({86, 0, 1000, 0}, kOldestUsableRuntime));
    EXPECT_FALSE(runtime_version_at_least({86, 0, 615, 99}, kOldestUsableRuntime));
    EXPECT_FALSE(runtime_version_at_least({85, 9, 9999, 9}, kOldestUsableRuntime));
}

TEST(RuntimeDllPath, FromTheVersionedFolder) {
    const std::wstring dll = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
    const std::wstring folder = L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application\\131.0.2903.146";
    EXPECT_EQ(runtime_dll_path(folder), folder + dll);
    EXPECT_EQ(runtime_dll_path(folder + L"\\"), folder + dll);
    EXPECT_EQ(runtime_dll_path(folder + L"/"), folder + dll);
    EXPECT_EQ(runtime_dll_path(L"\\\\server\\share\\wv\\120.0.1.2"), L"\\\\server\\share\\wv\\120.0.1.2" + dll);
    EXPECT_EQ(runtime_dll_path(L"D:/wv/120.0.1.2"), L"D:/wv/120.0.1.2" + dll);
    for (const wchar_t* bad :
         {L"", L"\\", L"131.0.2903.146", L"EdgeWebView\\131.0.2903.146", L"C:131.0.2903.146", L"\\131.0.2903.146",
          L"C:\\wv\\0.0.0.0", L"C:\\wv\\86.0.615.0", L"C:\\wv\\latest", L"C:\\", L"C:\\131.0.2903.146\\Application"}) {
        EXPECT_FALSE(runtime_dll_path(bad).has_value()) << testing::PrintToString(std::wstring(bad));
    }
}

// The start is settled once: shown, given up or closed, never two of them, whichever thread
// comes first.
TEST(StartWatch, SettledOnceByWhicheverThreadComesFirst) {
    StartWatch given_up(1000);
    EXPECT_TRUE(given_up.give_up(StartState::Starting));
    EXPECT_FALSE(given_up.show(1200)) << "a start given up shows nothing";
    EXPECT_FALSE(given_up.page_spoke()) << "nor answers the page";
    EXPECT_FALSE(given_up.close());
    EXPECT_EQ(given_up.state(), StartState::GivenUp);

    StartWatch shown(1000);
    EXPECT_TRUE(shown.show(1200));
    EXPECT_FALSE(shown.give_up(StartState::Starting)) << "the limit that passed was the start's, now past";
    EXPECT_FALSE(shown.close()) << "a shown window closes as any window does";
    EXPECT_TRUE(shown.page_spoke());
    EXPECT_TRUE(shown.page_spoke()) << "every later word too";
    EXPECT_FALSE(shown.give_up(StartState::Shown)) << "the page runs: nothing watches it any more";
    EXPECT_EQ(shown.state(), StartState::Running);

    StartWatch silent(1000);
    EXPECT_TRUE(silent.show(1200));
    EXPECT_TRUE(silent.give_up(StartState::Shown));
    EXPECT_FALSE(silent.page_spoke()) << "a page that speaks after the boxes took over is not answered";

    StartWatch closed(1000);
    EXPECT_TRUE(closed.close());
    EXPECT_FALSE(closed.show(1200));
    EXPECT_FALSE(closed.give_up(StartState::Starting)) << "a closed start gets no message boxes";
    EXPECT_EQ(closed.state(), StartState::Closed);
    EXPECT_EQ(closed.watcher_deadline(), closed.start_deadline() + time_limits().blocked_call_margin_ms)
        << "a window thread that does not end after a close is not waited for without end";
}

TEST(StartWatch, TheWatcherWaitsEachLimitPlusTheMarginAndTheWindowsThreadTheLimitAlone) {
    const TimeLimits& limits = time_limits();
    StartWatch start(10'000);
    start.enter(StartStep::ControllerCall);
    EXPECT_EQ(start.step(), StartStep::ControllerCall);
    EXPECT_EQ(start.start_deadline(), 10'000u + limits.webview_start_ms);
    EXPECT_EQ(start.watcher_deadline(), 10'000u + limits.webview_start_ms + limits.blocked_call_margin_ms);
    ASSERT_TRUE(start.show(12'345));
    EXPECT_EQ(start.watcher_deadline(), 12'345u + limits.page_ready_ms + limits.blocked_call_margin_ms)
        << "from the moment it was shown, the page's own limit";
    ASSERT_TRUE(start.page_spoke());
    EXPECT_EQ(start.watcher_deadline(), std::nullopt);
}

WindowOutcome ended(WindowEnd end, std::optional<Status> last_install = std::nullopt) {
    WindowOutcome outcome;
    outcome.end = end;
    outcome.last_install = std::move(last_install);
    return outcome;
}

TEST(WindowOutcome, TheLastInstallDecidesTheExitCodeOfAWindowThatWasShown) {
    EXPECT_EQ(window_result(ended(WindowEnd::Closed)), WindowResult::Closed);
    EXPECT_EQ(window_result(ended(WindowEnd::Closed, Status::success())), WindowResult::Closed);
    EXPECT_EQ(window_result(ended(WindowEnd::Closed, Status::failure("x"))), WindowResult::LastInstallFailed);
    EXPECT_EQ(window_result(ended(WindowEnd::PageLost, Status::failure(""))), WindowResult::LastInstallFailed);
    EXPECT_EQ(window_result(ended(WindowEnd::PageLost, Status::success())), WindowResult::Closed);
    EXPECT_EQ(window_result(ended(WindowEnd::PageLost)), WindowResult::NotShown) << "lost before any install";
    for (const WindowEnd end : {WindowEnd::NotShown, WindowEnd::GivenUp, WindowEnd::ClosedWhileStarting})
        EXPECT_EQ(window_result(ended(end)), WindowResult::NotShown);
}

TEST(WindowOutcome, TheLogSaysWhatHappened) {
    EXPECT_EQ(window_log_line(ended(WindowEnd::Closed)), std::nullopt);
    EXPECT_EQ(window_log_line(ended(WindowEnd::NotShown)), "the window could not be shown: message boxes");
    WindowOutcome lost = ended(WindowEnd::PageLost, Status::success());
    lost.lost = PageLoss::BrowserProcessExited;
    EXPECT_EQ(window_log_line(lost), "the page was lost: browser process exited");
    lost.lost = PageLoss::RenderProcessUnresponsive;
    EXPECT_EQ(window_log_line(lost), "the page was lost: render process unresponsive");
    lost.lost = PageLoss::Silent;
    EXPECT_EQ(window_log_line(lost), "the page was lost: the page did not answer");
    WindowOutcome given_up = ended(WindowEnd::GivenUp);
    given_up.waited_for = StartStep::ControllerCall;
    given_up.waited_ms = 5512;
    EXPECT_EQ(window_log_line(given_up),
              "the window was given up after 5512 ms waiting for CreateCoreWebView2Controller: message boxes");
    EXPECT_EQ(window_log_line(ended(WindowEnd::ClosedWhileStarting)), "the window was closed while WebView2 started");
}

}  // namespace
