// The real executable: quiet runs and their exit codes, arguments ignored, and DLLs planted
// beside it never loaded.
#include <gtest/gtest.h>

#include "test_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>

namespace ts = testing_support;

namespace {

class QuietRun : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring folder = scratch / L"Plugins";

    std::optional<DWORD> run(const std::wstring& quiet_value, const std::wstring& arguments = L"") {
        return ts::run_process(ts::setup_exe(), arguments,
                               {{L"ORVELLE_SETUP_QUIET", quiet_value}, {L"ORVELLE_SETUP_DIR", folder}});
    }
};

TEST_F(QuietRun, AnyValueSelectsTheQuietRunAndInstalls) {
    for (const wchar_t* value : {L"", L"0", L"false"}) {
        ts::remove_tree(folder);
        EXPECT_EQ(run(value), 0u) << ts::utf8(value);
        EXPECT_EQ(ts::read_bytes(folder + L"\\Lumivane.8bf"), ts::module_bytes()) << ts::utf8(value);
    }
}

TEST_F(QuietRun, ArgumentsChangeNothing) {
    EXPECT_EQ(run(L"", L"/S /D=C:\\elsewhere --help -uninstall"), 0u);
    EXPECT_EQ(ts::read_bytes(folder + L"\\Lumivane.8bf"), ts::module_bytes());
}

TEST_F(QuietRun, DefaultFolderIsBelowTheProfile) {
    const std::optional<DWORD> code = ts::run_process(
        ts::setup_exe(), L"",
        {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", std::nullopt}, {L"USERPROFILE", scratch.path()}});
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ts::read_bytes(scratch / L".affinity\\Affinity\\3.0\\Plugins\\Lumivane.8bf"), ts::module_bytes());
}

TEST_F(QuietRun, NoFolderToInstallIntoEndsWithOneAndWritesNothing) {
    const std::optional<DWORD> code = ts::run_process(
        ts::setup_exe(), L"", {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", std::nullopt}, {L"USERPROFILE", std::nullopt}},
        60000, scratch.path());
    EXPECT_EQ(code, 1u);
    EXPECT_TRUE(ts::folder_names(scratch.path()).empty());
}

TEST_F(QuietRun, FailedInstallEndsWithOne) {
    ASSERT_TRUE(ts::write_bytes(scratch / L"blocker", "a file where the folder should be"));
    folder = scratch / L"blocker\\Plugins";
    EXPECT_EQ(run(L""), 1u);
}

// Names of the DLLs a running process has loaded, in lower case.
std::vector<std::wstring> loaded_modules(DWORD process_id) {
    std::vector<std::wstring> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id);
    if (snapshot == INVALID_HANDLE_VALUE) return names;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        std::wstring name = entry.szModule;
        std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
        names.push_back(name);
    }
    CloseHandle(snapshot);
    return names;
}

TEST_F(QuietRun, NeverLoadsTheWindowSystem) {
    // A quiet run that found the "host" running stays alive waiting for it; meanwhile its
    // modules can be looked at. The stand-in host is any program of a chosen name.
    ts::ScratchFolder host_folder;
    ts::Child host = ts::start_process(ts::test_binary(L"module_holder.exe"),
                                       L"\"" + ts::test_binary(L"planted.dll") + L"\" \"" + (host_folder / L"up") + L"\"", {});
    for (int i = 0; i < 400 && !ts::exists(host_folder / L"up"); ++i) Sleep(25);
    ts::Child setup = ts::start_process(ts::setup_exe(), L"",
                                        {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", folder},
                                         {L"ORVELLE_SETUP_APP", L"module_holder.exe"}});
    for (int i = 0; i < 400 && !ts::exists(scratch / L"Settings\\PhotoshopPluginsPreferences.xml"); ++i) Sleep(25);
    Sleep(300);
    const std::vector<std::wstring> modules = loaded_modules(setup.id);
    EXPECT_EQ(WaitForSingleObject(setup.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "setup did not wait for the host";
    EXPECT_FALSE(modules.empty());
    for (const wchar_t* window_dll : {L"user32.dll", L"gdi32.dll", L"ole32.dll", L"shell32.dll"})
        EXPECT_EQ(std::count(modules.begin(), modules.end(), window_dll), 0) << ts::utf8(window_dll);
    TerminateProcess(host.process, 0);
    CloseHandle(host.process);
    EXPECT_EQ(ts::wait_exit(setup, 30000), 0u);
}

// Everything a planted-DLL run needs in one folder, as a download folder would hold it.
class PlantedDlls : public ::testing::Test {
protected:
    ts::ScratchFolder downloads;
    std::wstring exe = downloads / L"Lumivane-Setup.exe";
    const std::vector<std::wstring> planted{L"dwmapi.dll", L"WebView2Loader.dll"};

    void SetUp() override {
        ASSERT_TRUE(CopyFileW(ts::setup_exe().c_str(), exe.c_str(), FALSE));
        for (const std::wstring& name : planted)
            ASSERT_TRUE(CopyFileW(ts::test_binary(L"planted.dll").c_str(), (downloads / name).c_str(), FALSE));
    }
    bool loaded(const std::wstring& name) { return ts::exists(downloads / (name + L".loaded")); }
};

TEST_F(PlantedDlls, ThePlantWorksOnAProgramThatDoesNotGuardAgainstIt) {
    const std::wstring probe = downloads / L"probe.exe";
    ASSERT_TRUE(CopyFileW(ts::test_binary(L"plant_probe.exe").c_str(), probe.c_str(), FALSE));
    EXPECT_EQ(ts::run_process(probe, L"dwmapi.dll", {}), 0u);
    EXPECT_TRUE(loaded(L"dwmapi.dll"));
}

TEST_F(PlantedDlls, SetupLoadsNoneOfThemQuietOrWindowed) {
    ts::ScratchFolder target;
    EXPECT_EQ(ts::run_process(exe, L"", {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", target.path()}}), 0u);
    // Windowed: whatever comes up (the window, or the message boxes without a WebView2 runtime)
    // is given time to load what it wants, then the process is ended.
    ts::Child child = ts::start_process(exe, L"", {{L"ORVELLE_SETUP_QUIET", std::nullopt},
                                                   {L"ORVELLE_SETUP_DIR", target.path()}});
    Sleep(4000);
    EXPECT_FALSE(ts::wait_exit(child, 0).has_value()) << "setup ended without waiting for the user";
    for (const std::wstring& name : planted) EXPECT_FALSE(loaded(name)) << ts::utf8(name);
}

}  // namespace
