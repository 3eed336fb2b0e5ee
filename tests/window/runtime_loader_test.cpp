// The setup's own WebView2 runtime loader against real registry values and files in a throwaway
// Wine prefix: which registrations it accepts, which place wins, and how it starts the runtime
// (the stand-in runtime records the arguments of its entry point).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "com_handlers.h"
#include "stand_in_registry.h"
#include "test_support.h"
#include "time_limits.h"
#include "wait_with_pump.h"
#include "webview2_runtime.h"

namespace ts = testing_support;

namespace {

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const std::wstring kDll = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";

// A caller that waits for as long as the test does.
const StillWaited kWaited = [] { return true; };

class RuntimeLoader : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;

    void SetUp() override { stand_in::unregister_all(); }
    void TearDown() override { stand_in::unregister_all(); }

    // A runtime folder of that version with the stand-in in it.
    std::wstring installed(const std::wstring& name, const std::wstring& version) {
        const std::wstring folder = scratch / (name + L"\\" + version);
        EXPECT_TRUE(stand_in::place(folder));
        return folder;
    }
};

TEST_F(RuntimeLoader, NothingUsableRegisteredMeansNotFound) {
    EXPECT_FALSE(find_webview2_runtime().has_value()) << "a fresh prefix has no runtime";

    const std::wstring placeholder = installed(L"a", L"0.0.0.0");
    const std::wstring named = installed(L"b", L"latest");
    const std::wstring old = installed(L"c", L"86.0.615.0");
    const std::wstring no_dll = scratch / L"d\\120.0.1.2";
    const std::wstring x86_only = scratch / L"e\\120.0.1.2";
    ASSERT_TRUE(stand_in::place(x86_only, L"x86"));
    installed(L"f", L"120.0.1.2");
    const struct {
        const char* what;
        std::function<bool()> register_it;
    } cases[] = {
        {"key without a value",
         [] { return stand_in::register_empty_key(HKEY_CURRENT_USER, stand_in::kStableChannel); }},
        {"empty value", [] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, L""); }},
        {"0.0.0.0",
         [&] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, placeholder); }},
        {"not a version",
         [&] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, named); }},
        {"below the floor",
         [&] { return stand_in::register_folder(HKEY_LOCAL_MACHINE, stand_in::kStableChannel, old); }},
        {"DLL missing", [&] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, no_dll); }},
        {"only an x86 DLL",
         [&] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, x86_only); }},
        {"relative path",
         [] { return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, L"f\\120.0.1.2"); }},
        {"the stable browser, which may not host WebView2",
         [&] {
             return stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableBrowser, scratch / L"f\\120.0.1.2");
         }},
        {"64-bit view of HKLM, where the updater does not write",
         [&] {
             HKEY key = nullptr;
             const std::wstring value = scratch / L"f\\120.0.1.2";
             const bool made = RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                               L"Software\\Microsoft\\EdgeUpdate\\ClientState\\"
                                               L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}",
                                               0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                                               nullptr) == ERROR_SUCCESS &&
                               RegSetValueExW(key, L"EBWebView", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(value.c_str()),
                                              static_cast<DWORD>((value.size() + 1) * 2)) == ERROR_SUCCESS;
             RegCloseKey(key);
             return made;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        stand_in::unregister_all();
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                        L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}",
                        KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(c.register_it());
        EXPECT_FALSE(find_webview2_runtime().has_value());

        const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
        const auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
        EXPECT_EQ(create_webview2_environment(L"C:\\data", handler.Get(), kWaited), kNotFound);
        EXPECT_FALSE(channel->arrived);
    }
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}",
                    KEY_WOW64_64KEY, 0);
}

TEST_F(RuntimeLoader, PerMachineBeforePerUserAndStableBeforePreview) {
    const std::wstring machine = installed(L"machine", L"120.0.2210.91");
    const std::wstring user = installed(L"user", L"131.0.2903.146");
    const std::wstring beta = installed(L"beta", L"132.0.2957.11");

    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, user + L"\\"));
    EXPECT_EQ(find_webview2_runtime(), user + kDll) << "per-user only; a trailing separator is dropped";

    ASSERT_TRUE(stand_in::register_folder(HKEY_LOCAL_MACHINE, stand_in::kStableChannel, machine));
    EXPECT_EQ(find_webview2_runtime(), machine + kDll) << "both: per-machine wins, whatever the versions";

    ASSERT_TRUE(stand_in::register_folder(HKEY_LOCAL_MACHINE, stand_in::kStableChannel, scratch / L"gone\\125.0.1.1"));
    EXPECT_EQ(find_webview2_runtime(), user + kDll) << "a per-machine value whose DLL is missing is passed over";

    ASSERT_TRUE(stand_in::register_folder(HKEY_LOCAL_MACHINE, stand_in::kStableChannel, machine));
    const HANDLE held = CreateFileW((machine + kDll).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(find_webview2_runtime(), user + kDll) << "a DLL that cannot be opened for reading is passed over";
    CloseHandle(held);
    // Open for writing elsewhere (an update in progress), reading shared: still passed over.
    const HANDLE written = CreateFileW((machine + kDll).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       0, nullptr);
    ASSERT_NE(written, INVALID_HANDLE_VALUE);
    EXPECT_EQ(find_webview2_runtime(), user + kDll) << "a DLL being written is passed over";
    CloseHandle(written);

    stand_in::unregister_all();
    ASSERT_TRUE(stand_in::register_folder(HKEY_LOCAL_MACHINE, stand_in::kStableChannel, machine));
    EXPECT_EQ(find_webview2_runtime(), machine + kDll) << "per-machine only, through the 32-bit view";

    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kBetaChannel, beta));
    EXPECT_EQ(find_webview2_runtime(), machine + kDll) << "the runtime itself before a preview channel";
    stand_in::unregister_all();
    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kBetaChannel, beta));
    EXPECT_EQ(find_webview2_runtime(), beta + kDll) << "a preview channel when nothing else is there";
}

TEST_F(RuntimeLoader, ARuntimeWithoutTheEntryPointFailsToStart) {
    // Any DLL will do as a runtime that lacks the export; this one marks its loading.
    const std::wstring folder = scratch / L"noexport\\120.0.1.2";
    ASSERT_TRUE(CreateDirectoryW((scratch / L"noexport").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\EBWebView").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\EBWebView\\x64").c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(ts::test_binary(L"planted.dll").c_str(), (folder + kDll).c_str(), FALSE));
    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, folder));

    const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    const auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
    EXPECT_EQ(create_webview2_environment(L"C:\\data", handler.Get(), kWaited),
              HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(ts::exists(folder + kDll + L".loaded")) << "it was loaded from its registered place";
    EXPECT_EQ(create_webview2_environment(L"C:\\data", nullptr, kWaited), E_POINTER);
}

std::string read_text(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// How often the stand-in's entry point was called.
int starts_in(const std::string& record) {
    int starts = 0;
    for (size_t at = record.find("call\tCreateEnvironment\n"); at != std::string::npos;
         at = record.find("call\tCreateEnvironment\n", at + 1))
        ++starts;
    return starts;
}

// A start that fails, at once or through its completion, is retried once while its caller waits;
// an environment is handed on only when it answers for its interface.
TEST_F(RuntimeLoader, AFailedStartIsRetriedOnceWhileWaitedForAndTheEnvironmentIsChecked) {
    const std::wstring folder = installed(L"wv", L"131.0.2903.146");
    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, folder));
    const std::wstring record = scratch / L"record.txt";
    ts::ScopedEnvironment environment_of_test;
    environment_of_test.set(L"LUMIVANE_STAND_IN_RECORD", record);
    const struct {
        const wchar_t* script;  // a script of its own: a fresh stand-in runtime
        const char* behave;
        HRESULT completion;
        int starts;
    } cases[] = {
        {L"sync.txt", "first_environment_start=0x80004005", S_OK, 2},
        {L"completion.txt", "first_environment_completion=0x80004005", S_OK, 2},
        {L"always.txt", "environment_completion=0x80070005", E_ACCESSDENIED, 2},
        {L"query.txt", "environment_answers=0", E_NOINTERFACE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behave);
        const std::wstring script = scratch / c.script;
        ASSERT_TRUE(ts::write_bytes(script, std::string("behave\t") + c.behave + "\n"));
        environment_of_test.set(L"LUMIVANE_STAND_IN_SCRIPT", script);
        const auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
        const auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
        const HRESULT started = create_webview2_environment(L"C:\\data", handler.Get(), kWaited);
        EXPECT_EQ(started, S_OK);
        if (FAILED(started)) continue;  // nothing would complete
        Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
        EXPECT_EQ(wait_with_pump(*channel, StartWatch(), environment), c.completion);
        EXPECT_EQ(static_cast<bool>(environment), c.completion == S_OK);
        EXPECT_EQ(starts_in(read_text(record)), c.starts);
    }

    // Once its caller no longer waits, a failed start is not started again: that would start
    // browser processes no one uses, or block once more. A completion that fails after the wait
    // gave up:
    environment_of_test.set(L"LUMIVANE_STAND_IN_SCRIPT", scratch / L"late.txt");
    ASSERT_TRUE(ts::write_bytes(scratch / L"late.txt",
                                "behave\tenvironment_delivery=late\nbehave\tlate_ms=800\n"
                                "behave\tfirst_environment_completion=0x80004005\n"));
    auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
    // A start whose limit leaves 300 ms.
    const StartWatch short_start(GetTickCount64() - time_limits().webview_start_ms + 300);
    ASSERT_EQ(create_webview2_environment(L"C:\\data", handler.Get(), [channel] { return !channel->given_up; }), S_OK);
    Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
    EXPECT_EQ(wait_with_pump(*channel, short_start, environment), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    // The failure arrives while the thread goes on pumping (as a message box's loop would); a
    // retry would be made inside its delivery.
    const ULONGLONG until = GetTickCount64() + 2000;
    MSG message;
    while (GetTickCount64() < until &&
           read_text(record).find("call\tLateEnvironmentCompletion\n") == std::string::npos) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(20);
    }
    ASSERT_NE(read_text(record).find("call\tLateEnvironmentCompletion\n"), std::string::npos) << read_text(record);
    EXPECT_EQ(starts_in(read_text(record)), 1) << "started again after the wait gave up";
    EXPECT_FALSE(channel->arrived);

    // An entry point that fails (after blocking past the limit, say) when no one waits any more:
    environment_of_test.set(L"LUMIVANE_STAND_IN_SCRIPT", scratch / L"refused.txt");
    ASSERT_TRUE(ts::write_bytes(scratch / L"refused.txt", "behave\tenvironment_start=0x80004005\n"));
    channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    handler = make_com_object<EnvironmentCompletedHandler>(channel);
    EXPECT_EQ(create_webview2_environment(L"C:\\data", handler.Get(), [] { return false; }), E_FAIL);
    EXPECT_EQ(starts_in(read_text(record)), 1);
}

TEST_F(RuntimeLoader, StartsTheRuntimeWithTheInstalledRuntimeArguments) {
    const std::wstring folder = installed(L"wv", L"131.0.2903.146");
    ASSERT_TRUE(stand_in::register_folder(HKEY_CURRENT_USER, stand_in::kStableChannel, folder));
    const std::wstring record = scratch / L"record.txt";
    const std::wstring script = scratch / L"script.txt";
    ts::ScopedEnvironment environment_of_test;
    environment_of_test.set(L"LUMIVANE_STAND_IN_RECORD", record);
    environment_of_test.set(L"LUMIVANE_STAND_IN_SCRIPT", script);

    // First a runtime that refuses: its code comes back unchanged and nothing completes.
    ASSERT_TRUE(ts::write_bytes(script, "behave\tenvironment_start=0x80070070\n"));
    auto channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    auto handler = make_com_object<EnvironmentCompletedHandler>(channel);
    EXPECT_EQ(create_webview2_environment(L"C:\\Users\\demo\\Orvelle data", handler.Get(), kWaited),
              HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_FALSE(channel->arrived);
    const std::string refused = read_text(record);
    EXPECT_EQ(starts_in(refused), 2) << "tried once more";
    EXPECT_NE(refused.find("entry\tcheck=1 type=0 options=null\n"), std::string::npos) << refused;
    EXPECT_NE(refused.find("user_data_folder\tC:\\\\Users\\\\demo\\\\Orvelle data\n"), std::string::npos) << refused;

    // Then one that works: the environment arrives while the thread pumps messages.
    ASSERT_TRUE(ts::write_bytes(script, "behave\tenvironment_start=0\n"));
    channel = std::make_shared<Completion<ICoreWebView2Environment>>();
    handler = make_com_object<EnvironmentCompletedHandler>(channel);
    EXPECT_EQ(create_webview2_environment(L"D:\\data", handler.Get(), kWaited), S_OK);
    EXPECT_FALSE(channel->arrived) << "the stand-in completes later, as the runtime does";
    Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
    EXPECT_EQ(wait_with_pump(*channel, StartWatch(), environment), S_OK);
    EXPECT_TRUE(environment);
    EXPECT_NE(read_text(record).find("user_data_folder\tD:\\\\data\n"), std::string::npos);
}

}  // namespace
