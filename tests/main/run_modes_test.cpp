// The real executable: quiet runs and their exit codes, arguments ignored, DLLs planted beside
// it never loaded, the run log, the removal, and the deployment guide's commands.
#include <gtest/gtest.h>

#include "embedded.h"
#include "test_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwctype>
#include <regex>

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
                                         {L"ORVELLE_SETUP_APP", L"module_holder.exe"},
                                         {L"ORVELLE_SETUP_LOG", scratch / L"setup.log"}});
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
    EXPECT_TRUE(ts::read_bytes(scratch / L"setup.log").value_or("").ends_with(" exit code 0\r\n")) << "the log was on";
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

// Admin runs: every variable of the test's choosing, the rest of the setup's variables unset.
class AdminRun : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring folder = scratch / L"Plugins";
    std::wstring module = folder + L"\\Lumivane.8bf";
    std::wstring log = scratch / L"setup.log";

    ts::EnvironmentChanges environment(const ts::EnvironmentChanges& changes) {
        ts::EnvironmentChanges all{{L"ORVELLE_SETUP_DIR", folder},         {L"ORVELLE_SETUP_LOG", log},
                                   {L"ORVELLE_SETUP_QUIET", std::nullopt}, {L"ORVELLE_SETUP_REMOVE", std::nullopt},
                                   {L"ORVELLE_SETUP_APP", L"no-host.exe"}};
        for (const auto& [name, value] : changes) all[name] = value;
        return all;
    }
    std::optional<DWORD> run(const ts::EnvironmentChanges& changes) {
        return ts::run_process(ts::setup_exe(), L"", environment(changes));
    }
    std::optional<DWORD> install() { return run({{L"ORVELLE_SETUP_QUIET", L""}}); }
    // Removal shows nothing even without ORVELLE_SETUP_QUIET: a window would hang the run.
    std::optional<DWORD> remove() { return run({{L"ORVELLE_SETUP_REMOVE", L""}}); }

    // The log's lines, each checked for its CRLF and its leading UTC time.
    std::vector<std::string> log_lines() {
        const std::string text = ts::read_bytes(log).value_or("");
        std::vector<std::string> lines;
        static const std::regex time_first(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z .+)");
        for (size_t at = 0; at < text.size();) {
            const size_t end = text.find("\r\n", at);
            EXPECT_NE(end, std::string::npos) << "line without CRLF at the end";
            lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
            EXPECT_EQ(lines.back().find('\n'), std::string::npos) << lines.back();
            EXPECT_TRUE(std::regex_match(lines.back(), time_first)) << lines.back();
            at = end == std::string::npos ? text.size() : end + 2;
        }
        return lines;
    }
};

// Whether some line, after its time, is `text` (or ends with it, for `suffix`).
bool has_line(const std::vector<std::string>& lines, const std::string& text, bool suffix = false) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        const std::string event = line.substr(std::min(line.size(), line.find(' ') + 1));
        return suffix ? event.ends_with(text) : event == text;
    });
}

TEST_F(AdminRun, LogTellsEachRunsStoryAndEarlierLinesNeverChange) {
    EXPECT_EQ(install(), 0u);
    const std::vector<std::string> first = log_lines();
    ASSERT_GE(first.size(), 4u);
    EXPECT_TRUE(first.front().ends_with("Lumivane Setup " + std::string(kSetupVersion) + ", quiet run")) << first.front();
    EXPECT_TRUE(has_line(first, "plug-in folder: " + ts::utf8(folder)));
    EXPECT_TRUE(has_line(first, "module placed: " + ts::utf8(module)));
    EXPECT_TRUE(has_line(first, "host settings written: " + ts::utf8(scratch / L"Settings\\PhotoshopPluginsPreferences.xml")));
    EXPECT_TRUE(first.back().ends_with(" exit code 0")) << first.back();
    const std::string after_install = ts::read_bytes(log).value_or("");

    // A failed run: the reason, verbatim, then the exit code.
    const std::wstring good_folder = folder;
    ASSERT_TRUE(ts::write_bytes(scratch / L"blocker", "a file where the folder should be"));
    folder = scratch / L"blocker\\Plugins";
    EXPECT_EQ(install(), 1u);
    std::vector<std::string> lines = log_lines();
    EXPECT_EQ(ts::read_bytes(log).value_or("").substr(0, after_install.size()), after_install);
    EXPECT_TRUE(has_line(lines, "install failed: " + ts::utf8(folder) + ": " + ts::os_reason(ERROR_ALREADY_EXISTS)));
    EXPECT_TRUE(lines.back().ends_with(" exit code 1")) << lines.back();

    folder = good_folder;
    EXPECT_EQ(remove(), 0u);
    lines = log_lines();
    EXPECT_TRUE(has_line(lines, "Lumivane Setup " + std::string(kSetupVersion) + ", removal", true));
    EXPECT_TRUE(has_line(lines, "module deleted: " + ts::utf8(module)));
    EXPECT_TRUE(lines.back().ends_with(" exit code 0")) << lines.back();
}

// A folder, a file another program holds without write sharing, a drive that does not exist.
TEST_F(AdminRun, LogThatCannotBeOpenedChangesNothing) {
    wchar_t letter = L'Z';
    while (GetLogicalDrives() & (1u << (letter - L'A'))) --letter;
    const std::wstring locked = scratch / L"locked.log";
    ASSERT_TRUE(ts::write_bytes(locked, "kept\r\n"));
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CreateDirectoryW((scratch / L"a-folder").c_str(), nullptr));
    for (const std::wstring& path : {scratch / L"a-folder", locked, std::wstring(1, letter) + L":\\setup.log"}) {
        log = path;
        ts::remove_tree(folder);
        EXPECT_EQ(install(), 0u) << ts::utf8(path);
        EXPECT_EQ(ts::read_bytes(module), ts::module_bytes()) << ts::utf8(path);
        EXPECT_EQ(remove(), 0u) << ts::utf8(path);
        EXPECT_FALSE(ts::exists(module)) << ts::utf8(path);
    }
    CloseHandle(lock);
    EXPECT_TRUE(ts::folder_names(scratch / L"a-folder").empty());
    EXPECT_EQ(ts::read_bytes(locked), "kept\r\n");
}

TEST_F(AdminRun, RemovalTakesOurFilesAndLeavesTheSettingsAndTheRest) {
    ASSERT_EQ(install(), 0u);
    const std::wstring settings = scratch / L"Settings\\PhotoshopPluginsPreferences.xml";
    const std::optional<std::string> preferences = ts::read_bytes(settings);
    ASSERT_TRUE(preferences.has_value());
    for (const wchar_t* name : {L"Lumivane.8bf.new", L"Lumivane.8bf.old", L"Lumivane.8bf.old7", L"Other.8bf"})
        ASSERT_TRUE(ts::write_bytes(folder + L"\\" + name, "left over"));
    EXPECT_EQ(remove(), 0u);
    EXPECT_EQ(ts::folder_names(folder), std::vector<std::wstring>{L"Other.8bf"});
    EXPECT_EQ(ts::read_bytes(settings), preferences);

    // Nothing installed, not even the folder: nothing to do, and nothing is created.
    ts::remove_tree(folder);
    EXPECT_EQ(remove(), 0u);
    EXPECT_FALSE(ts::exists(folder));
}

TEST_F(AdminRun, ModuleThatCannotLeaveFailsTheRemovalWithItsReason) {
    ASSERT_EQ(install(), 0u);
    // Open without sharing: neither deleted nor renamed while this handle lives.
    HANDLE held = CreateFileW(module.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(remove(), 1u);
    CloseHandle(held);
    EXPECT_TRUE(ts::exists(module));
    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(has_line(lines, "removal failed: " + ts::utf8(module) + ": " + ts::os_reason(ERROR_SHARING_VIOLATION)));
    EXPECT_TRUE(lines.back().ends_with(" exit code 1")) << lines.back();
}

TEST_F(AdminRun, ModuleHeldByTheHostIsSetAsideAndDeletedOnceTheHostHasQuit) {
    ASSERT_EQ(install(), 0u);
    ts::ScratchFolder host_folder;
    ts::Child host = ts::start_process(ts::test_binary(L"module_holder.exe"),
                                       L"\"" + module + L"\" \"" + (host_folder / L"up") + L"\"", {});
    for (int i = 0; i < 400 && !ts::exists(host_folder / L"up"); ++i) Sleep(25);
    ASSERT_TRUE(ts::exists(host_folder / L"up"));
    ts::Child setup = ts::start_process(ts::setup_exe(), L"",
                                        environment({{L"ORVELLE_SETUP_REMOVE", L"1"}, {L"ORVELLE_SETUP_APP", L"module_holder.exe"}}));
    for (int i = 0; i < 400 && !has_line(log_lines(), "waiting for the host to quit"); ++i) Sleep(25);
    EXPECT_FALSE(ts::exists(module));
    EXPECT_TRUE(ts::exists(folder + L"\\Lumivane.8bf.old"));
    EXPECT_EQ(WaitForSingleObject(setup.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "setup did not wait for the host";

    TerminateProcess(host.process, 0);
    CloseHandle(host.process);
    EXPECT_EQ(ts::wait_exit(setup, 30000), 0u);
    EXPECT_TRUE(ts::folder_names(folder).empty());
    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(has_line(lines, "module in use, set aside: " + ts::utf8(folder) + "\\Lumivane.8bf.old"));
    EXPECT_TRUE(has_line(lines, "the host has quit"));
    EXPECT_TRUE(has_line(lines, "set-aside copy deleted: " + ts::utf8(folder) + "\\Lumivane.8bf.old"));
    EXPECT_TRUE(lines.back().ends_with(" exit code 0")) << lines.back();
}

// The guide's commands as README.md prints them, run by cmd /c from the folder that holds the
// setup, for a user whose profile is a scratch folder.
TEST(DeploymentGuide, CommandsRunAsPrinted) {
    const std::optional<std::wstring> readme_path = ts::environment_variable(L"LUMIVANE_README");
    if (!readme_path) GTEST_SKIP() << "LUMIVANE_README not set";
    const std::string readme = ts::read_bytes(*readme_path).value_or("");
    const size_t start = readme.find("## Deploying to many machines");
    ASSERT_NE(start, std::string::npos);
    const std::string guide = readme.substr(start, readme.find("\n## ", start + 1) - start);
    std::vector<std::string> commands;
    for (size_t at = guide.find("\n    cmd /c "); at != std::string::npos; at = guide.find("\n    cmd /c ", at + 1))
        commands.push_back(guide.substr(at + 5, guide.find('\n', at + 1) - at - 5));
    ASSERT_EQ(commands.size(), 2u);
    const std::string detection_marker = "`%USERPROFILE%\\";
    const size_t detection = guide.find(detection_marker);
    ASSERT_NE(detection, std::string::npos);
    const std::string detected = guide.substr(detection + 15, guide.find('`', detection + 1) - detection - 15);

    ts::ScratchFolder package, profile, temp;
    ASSERT_TRUE(CopyFileW(ts::setup_exe().c_str(), (package / L"Lumivane-Setup.exe").c_str(), FALSE));
    const std::wstring detected_file = profile.path() + L"\\" + std::wstring(detected.begin(), detected.end());
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const ts::EnvironmentChanges environment{
        {L"USERPROFILE", profile.path()}, {L"TEMP", temp.path()},           {L"TMP", temp.path()},
        {L"ORVELLE_SETUP_DIR", std::nullopt}, {L"ORVELLE_SETUP_QUIET", std::nullopt},
        {L"ORVELLE_SETUP_REMOVE", std::nullopt}, {L"ORVELLE_SETUP_LOG", std::nullopt}, {L"ORVELLE_SETUP_APP", L"no-host.exe"}};
    for (const std::string& command : commands) {
        const bool removal = command.find("ORVELLE_SETUP_REMOVE") != std::string::npos;
        const std::wstring arguments(command.begin() + 4, command.end());  // after "cmd "
        EXPECT_EQ(ts::run_process(std::wstring(system) + L"\\cmd.exe", arguments, environment, 60000, package.path()), 0u)
            << command;
        EXPECT_EQ(ts::exists(detected_file), !removal) << command;
        const std::string log = ts::read_bytes(temp / L"Lumivane-Setup.log").value_or("");
        EXPECT_NE(log.find(removal ? ", removal\r\n" : ", quiet run\r\n"), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with(" exit code 0\r\n")) << log;
    }
}

}  // namespace
