// The page bridge in-process against a fake WebView2 runtime: the attach's order of calls, its
// fatal and ignored failures, the waits, the page's messages and the host's replies (to a fake
// install handed in as the driver hands the real one), navigation and new-window refusal, and the
// window procedure.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "embedded.h"
#include "fake_webview2.h"
#include "page_bridge.h"
#include "test_support.h"
#include "text.h"
#include "time_limits.h"
#include "window_procedure.h"

namespace fw = fake_webview2;
namespace ts = testing_support;

namespace {

std::shared_ptr<fw::World> g_world;

HRESULT start_fake_runtime(const wchar_t* folder, ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler,
                           StillWaited) {
    return fw::start_environment(g_world, folder, handler);
}

void pump_pending_messages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The init message written out by hand for a folder that holds no quote or control character.
std::wstring posted_init(const std::string& lang, const std::wstring& folder, bool auto_start) {
    std::wstring path;
    for (const wchar_t c : folder) path += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
    return utf8_to_utf16("init\n{\"lang\":\"" + lang + "\",\"version\":\"0.4.0\",\"effects\":30,\"path\":\"") + path +
           (auto_start ? L"\",\"auto\":true}" : L"\",\"auto\":false}");
}

// The install the bridge is handed: counts its runs and answers what the test chose.
struct FakeInstall {
    int runs = 0;
    Status outcome = Status::success();
};

// What the driver would hand the window for an English user, with `install` as the install.
PageSetup english_setup(const std::wstring& local_app_data, const std::wstring& plugins,
                        const std::shared_ptr<FakeInstall>& install) {
    PageSetup setup;
    setup.language_code = "en";
    setup.version = "0.4.0";
    setup.plugin_folder = plugins;
    setup.local_app_data = local_app_data;
    setup.install = [install] {
        ++install->runs;
        return install->outcome;
    };
    return setup;
}

class PageBridgeTest : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring plugins = scratch / L"Plugins";
    std::shared_ptr<FakeInstall> install = std::make_shared<FakeInstall>();
    PageSetup setup = english_setup(scratch / L"Local", plugins, install);
    HWND window = nullptr;
    PageBridge bridge;
    std::shared_ptr<StartWatch> start = std::make_shared<StartWatch>();

    void SetUp() override {
        fw::watch_message_texts();
        g_world = std::make_shared<fw::World>();
        window = CreateWindowExW(0, L"STATIC", L"bridge test", WS_OVERLAPPEDWINDOW, 0, 0, 500, 320, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        close_page_bridge(bridge);
        ControllerSlot::empty();
        DestroyWindow(window);
        pump_pending_messages();
        g_world.reset();
        // Every message text the runtime handed over went back to it (CoTaskMemFree).
        EXPECT_EQ(fw::unfreed_message_texts(), 0);
    }

    // Each attach is a new start, with its own deadline.
    HRESULT attach() {
        start = std::make_shared<StartWatch>();
        return attach_page_bridge_with(start_fake_runtime, window, setup, start, bridge);
    }

    // Attaches, shows the page as the window does, lets its first navigation through, and
    // forgets the calls so far.
    void attach_live_page() {
        ASSERT_EQ(attach(), S_OK);
        ASSERT_TRUE(start->show());
        pump_pending_messages();
        ASSERT_EQ(g_world->record.first_navigation_cancelled, false);
        g_world->record.posted.clear();
    }
    HRESULT page_says(const std::wstring& text) { return fw::send_page_message(*g_world, text); }
};

TEST_F(PageBridgeTest, AttachMakesItsCallsInOrderAndConfinesThePage) {
    ASSERT_EQ(attach(), S_OK);
    const fw::Record& r = g_world->record;
    const std::vector<std::string> expected{"CreateEnvironment",
                                            "CreateCoreWebView2Controller",
                                            "put_DefaultBackgroundColor",
                                            "put_Bounds",
                                            "put_IsVisible",
                                            "get_CoreWebView2",
                                            "get_Settings",
                                            "put_AreDefaultContextMenusEnabled",
                                            "put_AreDevToolsEnabled",
                                            "put_IsStatusBarEnabled",
                                            "put_IsZoomControlEnabled",
                                            "put_AreBrowserAcceleratorKeysEnabled",
                                            "add_WebMessageReceived",
                                            "add_NavigationStarting",
                                            "add_NewWindowRequested",
                                            "add_ProcessFailed",
                                            "NavigateToString"};
    EXPECT_EQ(r.calls, expected);

    RECT client{};
    GetClientRect(window, &client);
    ASSERT_TRUE(r.bounds);
    EXPECT_TRUE(EqualRect(&*r.bounds, &client));
    EXPECT_GT(r.bounds->right, 0);
    ASSERT_TRUE(r.background);
    EXPECT_EQ(r.background->A, 255);
    EXPECT_EQ(r.background->R, 15);
    EXPECT_EQ(r.background->G, 13);
    EXPECT_EQ(r.background->B, 13);
    EXPECT_EQ(r.visible, TRUE);
    EXPECT_EQ(r.parent, window);
    const std::map<std::string, BOOL> settings{{"put_AreDefaultContextMenusEnabled", FALSE},
                                               {"put_AreDevToolsEnabled", FALSE},
                                               {"put_IsStatusBarEnabled", FALSE},
                                               {"put_IsZoomControlEnabled", FALSE},
                                               {"put_AreBrowserAcceleratorKeysEnabled", FALSE}};
    EXPECT_EQ(r.settings, settings);
    EXPECT_EQ(r.page, utf8_to_utf16(installer_page()));

    EXPECT_EQ(r.user_data_folder, scratch / L"Local\\Orvelle\\Filters\\WebView2-Setup");
    EXPECT_TRUE(ts::exists(r.user_data_folder)) << "made before the runtime starts";
    EXPECT_EQ(ControllerSlot::peek().Get(), bridge.controller.Get());
    EXPECT_TRUE(bridge.webview && bridge.settings && bridge.state);

    pump_pending_messages();
    EXPECT_EQ(r.first_navigation_cancelled, false);
    EXPECT_TRUE(r.posted.empty()) << "the host speaks only when asked";
}

TEST_F(PageBridgeTest, ClosingLetsGoOfEveryObject) {
    attach_live_page();
    EXPECT_EQ(page_says(L"ready"), S_OK);
    const std::weak_ptr<BridgeState> state = bridge.state;
    EXPECT_GT(fw::live_fake_objects(), 0);
    EXPECT_EQ(close_page_bridge(bridge), std::nullopt) << "no install was asked for";
    ControllerSlot::empty();
    EXPECT_EQ(g_world->record.calls.back(), "Close");
    EXPECT_TRUE(state.expired()) << "the web-message handler was not let go of";
    EXPECT_EQ(fw::live_fake_objects(), 0);
}

TEST_F(PageBridgeTest, DevToolsAndAutomaticStartFollowTheSetup) {
    setup.devtools = true;
    setup.auto_start = true;
    attach_live_page();
    EXPECT_EQ(g_world->record.settings["put_AreDevToolsEnabled"], TRUE);
    EXPECT_EQ(page_says(L"ready"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 1u);
    EXPECT_EQ(g_world->record.posted[0], posted_init("en", plugins, true));
}

TEST_F(PageBridgeTest, CompletionDeliveredBeforeTheStartCallReturnsIsNotMissed) {
    g_world->behaviour.environment_delivery = fw::Delivery::BeforeReturning;
    EXPECT_EQ(attach(), S_OK);
}

TEST_F(PageBridgeTest, QuitMessageDuringTheWaitEndsTheAttachAsCancelled) {
    g_world->behaviour.environment_delivery = fw::Delivery::Never;
    PostQuitMessage(0);
    EXPECT_EQ(attach(), HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_FALSE(bridge.controller);
}

// The quit message's code when one is waiting (it is taken out of the queue), else nothing.
std::optional<WPARAM> take_quit_message() {
    MSG message;
    if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return std::nullopt;
    return message.wParam;
}

TEST_F(PageBridgeTest, AStartThatNeverCompletesIsGivenUpAndItsLateCompletionKeepsNothing) {
    for (const bool controller_late : {false, true}) {
        SCOPED_TRACE(controller_late ? "controller" : "environment");
        g_world = std::make_shared<fw::World>();
        (controller_late ? g_world->behaviour.controller_delivery
                         : g_world->behaviour.environment_delivery) = fw::Delivery::Never;
        ControllerSlot::empty();
        EXPECT_EQ(attach(), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
        EXPECT_FALSE(bridge.controller || bridge.state);

        // The runtime answers after all, with a working object: nothing takes it up.
        ASSERT_EQ(g_world->withheld.size(), 1u);
        g_world->withheld.front()();
        pump_pending_messages();
        EXPECT_FALSE(ControllerSlot::peek());
        EXPECT_EQ(fw::live_fake_objects(), 0) << "the late object was kept";
        if (controller_late) {
            EXPECT_EQ(g_world->record.calls.back(), "Close") << "the late controller was closed";
        }
        g_world->withheld.clear();
    }
}

TEST_F(PageBridgeTest, AProfileFolderRefusedBelowLocalAppDataGivesWayToTheTemporaryFolderOnce) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring temporary_profile = std::wstring(temp) + L"Orvelle\\Filters\\WebView2-Setup";
    const struct {
        const char* what;
        std::optional<std::wstring> local_app_data;
        std::wstring refused;  // the folder the runtime refuses, and what is below it
        HRESULT completion;    // the code of every other start
        HRESULT expected;
        int starts;
    } cases[] = {
        {"refused below LOCALAPPDATA", scratch / L"Local", scratch / L"Local", S_OK, S_OK, 2},
        {"refused in both places", scratch / L"Local", L"", E_ACCESSDENIED, E_ACCESSDENIED, 2},
        {"another failure is not retried", scratch / L"Local", L"", E_FAIL, E_FAIL, 1},
        {"no LOCALAPPDATA: the temporary folder was the only one", std::nullopt, temp, S_OK, E_ACCESSDENIED, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_world = std::make_shared<fw::World>();
        g_world->behaviour.refused_folder = c.refused;
        g_world->behaviour.environment_completion = c.completion;
        setup.local_app_data = c.local_app_data;
        EXPECT_EQ(attach(), c.expected);
        const std::vector<std::string>& calls = g_world->record.calls;
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateEnvironment"), c.starts);
        if (c.starts == 2) {
            EXPECT_EQ(g_world->record.user_data_folder, temporary_profile);
        }
        close_page_bridge(bridge);
        pump_pending_messages();
    }
}

// Both places share the start's one deadline: a runtime that answers each start late enough
// may use the temporary folder only within what is left of it.
TEST_F(PageBridgeTest, TheTemporaryFolderGetsWhatIsLeftOfTheStartsLimit) {
    g_world->behaviour.refused_folder = scratch / L"Local";
    g_world->behaviour.environment_delivery = fw::Delivery::AfterDelay;
    g_world->behaviour.late_ms = time_limits().webview_start_ms * 6 / 10;
    EXPECT_EQ(attach(), HRESULT_FROM_WIN32(ERROR_TIMEOUT)) << "the second place got a limit of its own";
    const std::vector<std::string>& calls = g_world->record.calls;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateEnvironment"), 2);
    EXPECT_EQ(start->step(), StartStep::EnvironmentCreation);
}

// The thread that watches the window may settle the start while this one waits or before a step:
// the wait ends and no further runtime call is made.
TEST_F(PageBridgeTest, AStartSettledFromOutsideEndsTheWaitAndBeginsNoStep) {
    g_world->behaviour.environment_delivery = fw::Delivery::Never;
    const auto watch = std::make_shared<StartWatch>();
    fw::run_after(300, [watch] { watch->give_up(StartState::Starting); });
    const ULONGLONG began = GetTickCount64();
    EXPECT_EQ(attach_page_bridge_with(start_fake_runtime, window, setup, watch, bridge),
              HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_LT(GetTickCount64() - began, time_limits().webview_start_ms)
        << "the wait went on after the start was given up";
    EXPECT_EQ(g_world->record.calls, std::vector<std::string>{"CreateEnvironment"});

    g_world = std::make_shared<fw::World>();
    const auto closed = std::make_shared<StartWatch>();
    ASSERT_TRUE(closed->close());
    EXPECT_EQ(attach_page_bridge_with(start_fake_runtime, window, setup, closed, bridge),
              HRESULT_FROM_WIN32(ERROR_CANCELLED));
    EXPECT_TRUE(g_world->record.calls.empty()) << "the runtime was started for a closed window";
    EXPECT_FALSE(bridge.controller || bridge.state);
}

// The page's first word is watched with its own limit, not the start's.
TEST_F(PageBridgeTest, ThePagesFirstWordHasItsOwnLimit) {
    const ULONGLONG began = GetTickCount64();
    attach_live_page();
    std::optional<ULONGLONG> fired;
    MSG message;
    while (!fired && GetTickCount64() - began < 3 * time_limits().webview_start_ms) {
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            continue;
        }
        if (message.message == WM_TIMER && message.hwnd == window && message.wParam == kPageReadyTimer)
            fired = GetTickCount64() - began;
        DispatchMessageW(&message);
    }
    ASSERT_TRUE(fired) << "no watch for the page's first word";
    EXPECT_GE(*fired + 50, time_limits().page_ready_ms);
    EXPECT_LT(*fired, time_limits().page_ready_ms + 1000) << "armed with another limit";
}

// After the start was given up (the message boxes run on the other thread), a page that speaks
// at last gets no answer, installs nothing and ends its window.
TEST_F(PageBridgeTest, APageThatSpeaksAfterTheStartWasGivenUpIsNotAnswered) {
    attach_live_page();
    ASSERT_TRUE(start->give_up(StartState::Shown));
    for (const wchar_t* text : {L"ready", L"install"}) {
        EXPECT_EQ(page_says(text), S_OK);
        EXPECT_EQ(take_quit_message(), static_cast<WPARAM>(kPageLostQuitCode)) << ts::utf8(text);
    }
    EXPECT_EQ(install->runs, 0) << "installed from the window while the message boxes run";
    EXPECT_TRUE(g_world->record.posted.empty());
}

TEST_F(PageBridgeTest, ALostPageEndsTheLoopOnceNoInstallRuns) {
    // The runtime replaces these processes by itself: the page stays.
    attach_live_page();
    for (const auto kind : {COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED,
                            COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED,
                            COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED}) {
        EXPECT_EQ(fw::fail_process(*g_world, kind), S_OK);
        EXPECT_EQ(take_quit_message(), std::nullopt) << kind;
    }
    EXPECT_FALSE(bridge.state->lost);

    // These leave the window without content for good.
    for (const auto kind : {COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED,
                            COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED,
                            COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE}) {
        SCOPED_TRACE(kind);
        close_page_bridge(bridge);
        g_world = std::make_shared<fw::World>();
        attach_live_page();
        EXPECT_EQ(fw::fail_process(*g_world, kind), S_OK);
        EXPECT_EQ(take_quit_message(), static_cast<WPARAM>(kPageLostQuitCode));
        EXPECT_TRUE(bridge.state->lost);
        EXPECT_FALSE(bridge.state->last_install) << "no install was requested";
    }

    // Reported while an install runs: the install ends and is answered first.
    close_page_bridge(bridge);
    g_world = std::make_shared<fw::World>();
    std::optional<WPARAM> quit_during_install;
    const std::shared_ptr<fw::World> world = g_world;
    setup.install = [world, &quit_during_install] {
        fw::fail_process(*world, COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED);
        quit_during_install = take_quit_message();
        return Status::failure("locked");
    };
    attach_live_page();
    EXPECT_EQ(page_says(L"install"), S_OK);
    EXPECT_EQ(quit_during_install, std::nullopt) << "the loop was ended inside the install";
    EXPECT_EQ(g_world->record.posted, std::vector<std::wstring>{L"error\nlocked"});
    EXPECT_EQ(take_quit_message(), static_cast<WPARAM>(kPageLostQuitCode));
    ASSERT_TRUE(bridge.state->last_install);
    EXPECT_EQ(bridge.state->last_install->error(), "locked");
}

struct FatalCase {
    const char* name;
    std::function<void(fw::Behaviour&)> configure;
    HRESULT expected;
    bool controller_in_slot;  // the failure comes after the controller was put into the slot
};

TEST_F(PageBridgeTest, FatalStepsFailTheAttachAndKeepNothing) {
    const HRESULT boom = E_FAIL;
    const FatalCase cases[] = {
        {"runtime refuses to start", [&](auto& b) { b.environment_start = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND); },
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false},
        {"environment completes with a failure", [&](auto& b) { b.environment_completion = E_ACCESSDENIED; },
         E_ACCESSDENIED, false},
        {"environment completes without an object", [&](auto& b) { b.environment_object = false; }, E_POINTER, false},
        {"controller creation refused", [&](auto& b) { b.controller_start = boom; }, boom, false},
        {"controller completes with a failure", [&](auto& b) { b.controller_completion = E_ABORT; }, E_ABORT, false},
        {"controller completes without an object", [&](auto& b) { b.controller_object = false; }, E_POINTER, false},
        {"bounds", [&](auto& b) { b.bounds = boom; }, boom, false},
        {"visibility", [&](auto& b) { b.visible = boom; }, boom, false},
        {"web view", [&](auto& b) { b.webview = boom; }, boom, true},
        {"no web view", [&](auto& b) { b.webview_object = false; }, E_POINTER, true},
        {"settings", [&](auto& b) { b.settings = boom; }, boom, true},
        {"no settings", [&](auto& b) { b.settings_object = false; }, E_POINTER, true},
        {"web-message handler", [&](auto& b) { b.add_web_message = boom; }, boom, true},
        {"navigation handler", [&](auto& b) { b.add_navigation = boom; }, boom, true},
        {"new-window handler", [&](auto& b) { b.add_new_window = boom; }, boom, true},
        {"navigation to the page", [&](auto& b) { b.navigate = boom; }, boom, true},
    };
    for (const FatalCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_world = std::make_shared<fw::World>();
        c.configure(g_world->behaviour);
        ControllerSlot::empty();
        EXPECT_EQ(attach(), c.expected);
        EXPECT_FALSE(bridge.controller || bridge.webview || bridge.settings || bridge.state);
        EXPECT_EQ(static_cast<bool>(ControllerSlot::peek()), c.controller_in_slot);
        EXPECT_EQ(std::count(g_world->record.calls.begin(), g_world->record.calls.end(), "Close"), 0)
            << "the controller is not closed on this path";
        pump_pending_messages();
    }
}

TEST_F(PageBridgeTest, IgnoredFailuresLeaveTheAttachSucceeding) {
    g_world->behaviour.offer_controller2 = false;
    g_world->behaviour.offer_settings3 = false;
    g_world->behaviour.setters = E_FAIL;
    setup.plugin_folder.clear();                          // no folder could be resolved...
    setup.local_app_data = scratch / L"file-in-the-way";  // ...nor can the data folder be made
    install->outcome = Status::failure("no user folder (USERPROFILE).");
    ASSERT_TRUE(ts::write_bytes(scratch / L"file-in-the-way", "x"));
    attach_live_page();
    EXPECT_FALSE(g_world->record.background);
    EXPECT_EQ(g_world->record.settings.count("put_AreBrowserAcceleratorKeysEnabled"), 0u);
    EXPECT_EQ(g_world->record.settings.size(), 4u);
    EXPECT_EQ(page_says(L"ready"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 1u);
    EXPECT_EQ(g_world->record.posted[0], posted_init("en", L"", false));

    // The install still runs, and its reason reaches the page.
    EXPECT_EQ(page_says(L"install"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 2u);
    EXPECT_EQ(g_world->record.posted[1], L"error\nno user folder (USERPROFILE).");
    EXPECT_EQ(install->runs, 1);
    const std::optional<Status> last = close_page_bridge(bridge);
    EXPECT_TRUE(last && !last->ok());
}

TEST_F(PageBridgeTest, ReadyIsAnsweredEveryTimeWithTheSameInit) {
    attach_live_page();
    EXPECT_EQ(page_says(L"ready"), S_OK);
    EXPECT_EQ(page_says(L"ready"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 2u);
    EXPECT_EQ(g_world->record.posted[0], posted_init("en", plugins, false));
    EXPECT_EQ(g_world->record.posted[1], g_world->record.posted[0]);
}

TEST_F(PageBridgeTest, OtherTextsAndNonStringMessagesAreIgnored) {
    attach_live_page();
    for (const wchar_t* text : {L"", L"Install", L"INSTALL", L"install ", L" ready", L"close\n", L"mail2", L"done"}) {
        EXPECT_EQ(page_says(text), S_OK) << ts::utf8(text);
    }
    EXPECT_EQ(fw::send_page_message(*g_world, std::nullopt), S_OK);  // e.g. postMessage({})
    EXPECT_TRUE(g_world->record.posted.empty());
    EXPECT_EQ(install->runs, 0) << "nothing was installed";
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE)) << "nothing closed the window";
}

TEST_F(PageBridgeTest, InstallRunsTheHandedInstallOnceAndRepliesDone) {
    attach_live_page();
    EXPECT_EQ(install->runs, 0) << "attaching installs nothing";
    EXPECT_EQ(page_says(L"install"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 1u);
    EXPECT_EQ(g_world->record.posted[0], L"done");
    EXPECT_EQ(install->runs, 1);
    const std::optional<Status> last = close_page_bridge(bridge);
    EXPECT_TRUE(last && last->ok());
}

TEST_F(PageBridgeTest, TheMostRecentInstallDecidesTheFlag) {
    attach_live_page();
    const std::string failure = ts::utf8(plugins) + "\\Lumivane.8bf.new: Access denied. (os error 5)\nmore";
    install->outcome = Status::failure(failure);
    EXPECT_EQ(page_says(L"install"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 1u);
    EXPECT_EQ(utf16_to_utf8(g_world->record.posted[0]), "error\n" + failure) << "the failure text verbatim";
    EXPECT_FALSE(bridge.state->last_install->ok());

    install->outcome = Status::success();
    EXPECT_EQ(page_says(L"install"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 2u);
    EXPECT_EQ(g_world->record.posted[1], L"done");
    EXPECT_TRUE(bridge.state->last_install->ok()) << "a later success clears the failure";

    install->outcome = Status::failure("");  // a failure without a text is still a failure
    EXPECT_EQ(page_says(L"install"), S_OK);
    ASSERT_EQ(g_world->record.posted.size(), 3u);
    EXPECT_EQ(g_world->record.posted[2], L"error\n");
    EXPECT_EQ(install->runs, 3);
    const std::optional<Status> last = close_page_bridge(bridge);
    EXPECT_TRUE(last && !last->ok()) << "done then error: the last attempt failed";
    EXPECT_EQ(g_world->record.calls.back(), "Close");
    EXPECT_FALSE(bridge.controller || bridge.webview || bridge.settings || bridge.state);
}

TEST_F(PageBridgeTest, CloseAndMailAreLeftToTheWindow) {
    attach_live_page();
    EXPECT_EQ(page_says(L"close"), S_OK);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    EXPECT_EQ(page_says(L"mail"), S_OK);
    EXPECT_TRUE(PeekMessageW(&message, window, kOpenSupportMail, kOpenSupportMail, PM_REMOVE))
        << "the mail link is opened by the window procedure, outside the page's event";
    EXPECT_TRUE(g_world->record.posted.empty());
}

TEST_F(PageBridgeTest, AFailedPostIsTheHandlersResult) {
    attach_live_page();
    g_world->behaviour.post = E_ACCESSDENIED;
    EXPECT_EQ(page_says(L"ready"), E_ACCESSDENIED);
    EXPECT_EQ(page_says(L"install"), E_ACCESSDENIED);
    const std::optional<Status> last = close_page_bridge(bridge);
    EXPECT_TRUE(last && last->ok()) << "the install itself succeeded";
}

TEST_F(PageBridgeTest, OnlyTheFirstNavigationGoesThroughAndNoWindowOpens) {
    attach_live_page();
    EXPECT_TRUE(fw::start_navigation(*g_world, L"https://example.com/"));
    EXPECT_TRUE(fw::start_navigation(*g_world, L"about:blank"));
    EXPECT_TRUE(fw::request_new_window(*g_world, L"https://example.com/"));
    EXPECT_TRUE(fw::request_new_window(*g_world, L""));
}

// The window procedure, on a window of its own class.
class WindowProcedureTest : public ::testing::Test {
protected:
    HWND window = nullptr;
    std::shared_ptr<fw::World> world = std::make_shared<fw::World>();

    void SetUp() override {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = installer_window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"WindowProcedureTest";
        RegisterClassW(&window_class);
        window = CreateWindowExW(0, L"WindowProcedureTest", L"", WS_OVERLAPPEDWINDOW, 10, 10, 400, 300, nullptr,
                                 nullptr, window_class.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override {
        ControllerSlot::empty();
        if (IsWindow(window)) DestroyWindow(window);
        pump_pending_messages();
    }
    // A controller in the slot, made by the fake runtime.
    void controller_in_slot() {
        g_world = world;
        PageBridge bridge;
        const PageSetup setup = english_setup(L"", L"", std::make_shared<FakeInstall>());
        ASSERT_EQ(attach_page_bridge_with(start_fake_runtime, window, setup, std::make_shared<StartWatch>(), bridge),
                  S_OK);
        world->record.bounds.reset();
        world->record.focus_moves = 0;
    }
};

TEST_F(WindowProcedureTest, SizeAndFocusGoToTheControllerWhenThereIsOne) {
    EXPECT_EQ(SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(1, 1)), 0);
    EXPECT_EQ(SendMessageW(window, WM_SETFOCUS, 0, 0), 0);  // empty slot: nothing to do

    controller_in_slot();
    ASSERT_TRUE(SetWindowPos(window, nullptr, 0, 0, 500, 350, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE));
    RECT client{};
    GetClientRect(window, &client);
    world->record.bounds.reset();
    EXPECT_EQ(SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(7, 7)), 0);
    ASSERT_TRUE(world->record.bounds);
    EXPECT_TRUE(EqualRect(&*world->record.bounds, &client)) << "the whole client area, not the message's size";
    EXPECT_EQ(SendMessageW(window, WM_SETFOCUS, 0, 0), 0);
    EXPECT_EQ(world->record.focus_moves, 1);
}

TEST_F(WindowProcedureTest, DpiChangeTakesTheSuggestedRectangle) {
    RECT suggested{50, 60, 50 + 977, 60 + 655};
    EXPECT_EQ(SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested)), 0);
    RECT now{};
    GetWindowRect(window, &now);
    EXPECT_TRUE(EqualRect(&now, &suggested));
}

TEST_F(WindowProcedureTest, ThePagesSilenceEndsTheLoopAsALostPage) {
    EXPECT_EQ(SendMessageW(window, WM_TIMER, kPageReadyTimer + 1, 0), 0);
    EXPECT_EQ(take_quit_message(), std::nullopt) << "another timer";
    ASSERT_TRUE(SetTimer(window, kPageReadyTimer, 60000, nullptr));
    EXPECT_EQ(SendMessageW(window, WM_TIMER, kPageReadyTimer, 0), 0);
    EXPECT_EQ(take_quit_message(), static_cast<WPARAM>(kPageLostQuitCode));
    EXPECT_FALSE(KillTimer(window, kPageReadyTimer)) << "it fires once";
}

TEST_F(WindowProcedureTest, DestroyPostsTheQuitMessage) {
    DestroyWindow(window);
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

}  // namespace
