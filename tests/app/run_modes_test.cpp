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
        ts::setup_exe(), L"",
        {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", std::nullopt}, {L"USERPROFILE", std::nullopt}}, 60000,
        scratch.path());
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
    ts::Child host = ts::start_process(
        ts::test_binary(L"module_holder.exe"),
        L"\"" + ts::test_binary(L"planted.dll") + L"\" \"" + (host_folder / L"up") + L"\"", {});
    for (int i = 0; i < 400 && !ts::exists(host_folder / L"up"); ++i) Sleep(25);
    ts::Child setup = ts::start_process(ts::setup_exe(), L"",
                                        {{L"ORVELLE_SETUP_QUIET", L""},
                                         {L"ORVELLE_SETUP_DIR", folder},
                                         {L"ORVELLE_SETUP_APP", L"module_holder.exe"},
                                         {L"ORVELLE_SETUP_LOG", scratch / L"setup.log"}});
    for (int i = 0; i < 400 && !ts::exists(scratch / L"Settings\\PhotoshopPluginsPreferences.xml"); ++i) Sleep(25);
    Sleep(300);
    const std::vector<std::wstring> modules = loaded_modules(setup.id);
    EXPECT_EQ(WaitForSingleObject(setup.process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "setup did not wait for the host";
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
    ts::Child child = ts::start_process(
        exe, L"", {{L"ORVELLE_SETUP_QUIET", std::nullopt}, {L"ORVELLE_SETUP_DIR", target.path()}});
    Sleep(4000);
    EXPECT_FALSE(ts::wait_exit(child, 0).has_value()) << "setup ended without waiting for the user";
    for (const std::wstring& name : planted) EXPECT_FALSE(loaded(name)) << ts::utf8(name);
}

// Admin runs: every setup variable of the test's choosing, the others unset.
class AdminRun : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring folder = scratch / L"Plugins";
    std::wstring module = folder + L"\\Lumivane.8bf";
    std::wstring log = scratch / L"setup.log";

    ts::EnvironmentChanges environment(const wchar_t* mode, const std::wstring& app = L"no-host.exe") {
        ts::EnvironmentChanges all{{L"ORVELLE_SETUP_DIR", folder},
                                   {L"ORVELLE_SETUP_LOG", log},
                                   {L"ORVELLE_SETUP_APP", app},
                                   {L"ORVELLE_SETUP_QUIET", std::nullopt},
                                   {L"ORVELLE_SETUP_REMOVE", std::nullopt}};
        all[mode] = L"";
        return all;
    }
    std::optional<DWORD> install() {
        return ts::run_process(ts::setup_exe(), L"", environment(L"ORVELLE_SETUP_QUIET"));
    }
    // Removal shows nothing even without ORVELLE_SETUP_QUIET: a window would hang the run.
    std::optional<DWORD> remove() {
        return ts::run_process(ts::setup_exe(), L"", environment(L"ORVELLE_SETUP_REMOVE"));
    }
    // The log, every line checked for its leading UTC time and its CRLF.
    std::string story() {
        const std::string text = ts::read_bytes(log).value_or("");
        static const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z [^\r\n]+)");
        for (size_t at = 0, end = 0; at < text.size(); at = end + 2) {
            end = text.find("\r\n", at);
            if (end == std::string::npos) {
                ADD_FAILURE() << "no CRLF at the end: " << text;
                break;
            }
            EXPECT_TRUE(std::regex_match(text.substr(at, end - at), line)) << text.substr(at, end - at);
        }
        return text;
    }
};

bool tells(const std::string& story, const std::string& event) {
    return story.find("Z " + event + "\r\n") != std::string::npos;
}

TEST_F(AdminRun, LogTellsEachRunsStoryAndEarlierLinesNeverChange) {
    const std::string version = "Lumivane Setup " + std::string(kSetupVersion);
    EXPECT_EQ(install(), 0u);
    const std::string first = story();
    EXPECT_TRUE(first.find(version + ", quiet run\r\n") < first.find("\r\n")) << first;
    EXPECT_TRUE(tells(first, "plug-in folder: " + ts::utf8(folder))) << first;
    EXPECT_TRUE(tells(first, "module placed: " + ts::utf8(module))) << first;
    EXPECT_TRUE(
        tells(first, "host settings written: " + ts::utf8(scratch / L"Settings\\PhotoshopPluginsPreferences.xml")));
    EXPECT_TRUE(first.ends_with(" exit code 0\r\n")) << first;

    // A failed run: its reason verbatim, then its exit code, after the earlier lines unchanged.
    const std::wstring good_folder = std::exchange(folder, scratch / L"blocker\\Plugins");
    ASSERT_TRUE(ts::write_bytes(scratch / L"blocker", "a file where the folder should be"));
    EXPECT_EQ(install(), 1u);
    const std::string second = story();
    EXPECT_TRUE(second.starts_with(first));
    EXPECT_TRUE(tells(second, "install failed: " + ts::utf8(folder) + ": " + ts::os_reason(ERROR_ALREADY_EXISTS)));
    EXPECT_TRUE(second.ends_with(" exit code 1\r\n")) << second;

    folder = good_folder;
    EXPECT_EQ(remove(), 0u);
    const std::string third = story().substr(second.size());
    EXPECT_TRUE(third.find(version + ", removal\r\n") < third.find("\r\n")) << third;
    EXPECT_TRUE(tells(third, "module deleted: " + ts::utf8(module))) << third;
    EXPECT_TRUE(third.ends_with(" exit code 0\r\n")) << third;
}

// A folder, a file another program holds without write sharing, a drive that does not exist.
TEST_F(AdminRun, LogThatCannotBeOpenedChangesNothing) {
    wchar_t letter = L'Z';
    while (GetLogicalDrives() & (1u << (letter - L'A'))) --letter;
    const std::wstring locked = scratch / L"locked.log";
    ASSERT_TRUE(ts::write_bytes(locked, "kept\r\n"));
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(CreateDirectoryW((scratch / L"a-folder").c_str(), nullptr));
    for (const std::wstring& path : {scratch / L"a-folder", locked, std::wstring(1, letter) + L":\\setup.log"}) {
        log = path;
        EXPECT_EQ(install(), 0u) << ts::utf8(path);
        EXPECT_EQ(ts::read_bytes(module), ts::module_bytes()) << ts::utf8(path);
        EXPECT_EQ(remove(), 0u) << ts::utf8(path);
        EXPECT_FALSE(ts::exists(module)) << ts::utf8(path);
    }
    CloseHandle(lock);
    EXPECT_TRUE(ts::folder_names(scratch / L"a-folder").empty());
    EXPECT_EQ(ts::read_bytes(locked), "kept\r\n");
}

// The log as admins write it: a %TEMP% that no shell expanded, folders that do not exist yet, a
// path relative to the current folder.
TEST_F(AdminRun, LogPathAsAdminsWriteIt) {
    for (const auto& [given, written] :
         {std::pair{std::wstring(L"%TEMP%\\Lumivane-Setup.log"), scratch / L"Lumivane-Setup.log"},
          std::pair{scratch / L"Logs\\Lumivane\\setup.log", scratch / L"Logs\\Lumivane\\setup.log"},
          std::pair{std::wstring(L"relative\\setup.log"), scratch / L"relative\\setup.log"}}) {
        ts::EnvironmentChanges changes = environment(L"ORVELLE_SETUP_QUIET");
        changes[L"ORVELLE_SETUP_LOG"] = given;
        changes[L"TEMP"] = scratch.path();
        EXPECT_EQ(ts::run_process(ts::setup_exe(), L"", changes, 60000, scratch.path()), 0u) << ts::utf8(given);
        log = written;
        EXPECT_TRUE(tells(story(), "module placed: " + ts::utf8(module))) << ts::utf8(given);
    }
}

// A log name that leads to a file of someone else's is never written through, and the run is the
// same: a second hard link of that file here; a symbolic link to it, or to a name that does not
// exist yet, where the system makes symbolic links (Windows with the right to; Wine 8 says it made
// one and makes nothing).
TEST_F(AdminRun, LogThatIsALinkIsSkipped) {
    const std::wstring others = scratch / L"others.txt", not_made = scratch / L"made-through-a-link.log";
    ASSERT_TRUE(ts::write_bytes(others, "not the setup's\r\n"));
    std::vector<std::wstring> links{scratch / L"hard.log"};
    ASSERT_TRUE(CreateHardLinkW(links[0].c_str(), others.c_str(), nullptr));
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    for (const auto& [link, target] :
         {std::pair{scratch / L"symbolic.log", others}, std::pair{scratch / L"dangling.log", not_made}}) {
        CreateSymbolicLinkW(link.c_str(), target.c_str(), kUnprivileged);
        const DWORD attributes = GetFileAttributesW(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) links.push_back(link);
    }
    for (const std::wstring& link : links) {
        log = link;
        EXPECT_EQ(install(), 0u) << ts::utf8(link);
        EXPECT_EQ(ts::read_bytes(module), ts::module_bytes()) << ts::utf8(link);
        EXPECT_EQ(remove(), 0u) << ts::utf8(link);
        EXPECT_FALSE(ts::exists(module)) << ts::utf8(link);
    }
    EXPECT_EQ(ts::read_bytes(others), "not the setup's\r\n");
    EXPECT_FALSE(ts::exists(not_made));
    if (links.size() == 1) GTEST_SKIP() << "hard link checked; this system made no symbolic link";
}

// ORVELLE_SETUP_DIR may hold any text, line breaks included: each event stays one line.
TEST_F(AdminRun, LineBreaksInAFolderNameKeepOneLinePerEvent) {
    folder = scratch / L"line\rbreak\nand\r\nboth\\Plugins";
    const std::optional<DWORD> code = install();
    EXPECT_TRUE(code == 0u || code == 1u);
    const std::string text = story();
    EXPECT_TRUE(tells(text, "plug-in folder: " + ts::utf8(scratch / L"line break and  both\\Plugins"))) << text;
}

// Removal reports success only where it saw that nothing is there. A server or a drive that cannot
// be reached fails with the system's reason (for the drive, its root's); a folder missing below a
// folder that exists, however deep, holds nothing.
TEST_F(AdminRun, RemovalFailsWhereItCannotLookAndSucceedsWhereNothingIs) {
    ASSERT_FALSE(GetLogicalDrives() & (1u << (L'Q' - L'A'))) << "this test needs drive Q: unmapped";
    static const std::regex failure(R"(Z removal failed: (.*): [^\r\n]+ \(os error \d+\)\r\n)");
    size_t before = 0;
    for (const std::wstring unreachable : {L"\\\\nosuchserver\\share\\Plugins", L"Q:\\Plugins"}) {
        folder = unreachable;
        EXPECT_EQ(remove(), 1u) << ts::utf8(unreachable);
        const std::string text = story().substr(before);
        before += text.size();
        std::smatch found;
        EXPECT_TRUE(std::regex_search(text, found, failure) && found[1] == ts::utf8(unreachable)) << text;
        EXPECT_TRUE(text.ends_with(" exit code 1\r\n")) << text;
    }
    // Some systems call the folder on a missing drive merely "not found"; its root tells.
    EXPECT_TRUE(tells(story(), "removal failed: Q:\\Plugins: " + ts::os_reason(ERROR_PATH_NOT_FOUND)));

    folder = scratch / L"no\\such\\Plugins";
    EXPECT_EQ(remove(), 0u);
    EXPECT_TRUE(story().ends_with(" exit code 0\r\n"));
    EXPECT_FALSE(ts::exists(scratch / L"no"));
}

TEST_F(AdminRun, RemovalTakesOurFilesAndLeavesTheSettingsAndTheRest) {
    ASSERT_EQ(install(), 0u);
    const std::optional<std::string> settings = ts::read_bytes(scratch / L"Settings\\PhotoshopPluginsPreferences.xml");
    for (const wchar_t* name : {L"Lumivane.8bf.new", L"Lumivane.8bf.old", L"Lumivane.8bf.old7", L"Other.8bf"})
        ASSERT_TRUE(ts::write_bytes(folder + L"\\" + name, "left over"));
    EXPECT_EQ(remove(), 0u);
    EXPECT_EQ(ts::folder_names(folder), std::vector<std::wstring>{L"Other.8bf"});
    EXPECT_EQ(ts::read_bytes(scratch / L"Settings\\PhotoshopPluginsPreferences.xml"), settings);

    // Nothing installed, not even the folder: nothing to do, and nothing is created.
    ts::remove_tree(folder);
    EXPECT_EQ(remove(), 0u);
    EXPECT_FALSE(ts::exists(folder));

    // A module that can be neither deleted nor renamed (open without sharing) fails the removal.
    ASSERT_EQ(install(), 0u);
    HANDLE held = CreateFileW(module.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(remove(), 1u);
    CloseHandle(held);
    EXPECT_TRUE(tells(story(), "removal failed: " + ts::utf8(module) + ": " + ts::os_reason(ERROR_SHARING_VIOLATION)));
    EXPECT_TRUE(ts::exists(module));
}

// An empty ORVELLE_SETUP_DIR names the current folder: the removal takes out what the install
// put there (set-aside copies are not looked for there by either, as the empty path cannot be
// listed).
TEST_F(AdminRun, EmptyChosenFolderIsTheCurrentOneForRemovalAsForInstall) {
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* mode : {L"ORVELLE_SETUP_QUIET", L"ORVELLE_SETUP_REMOVE"}) {
        ts::EnvironmentChanges changes = environment(mode);
        changes[L"ORVELLE_SETUP_DIR"] = L"";
        EXPECT_EQ(ts::run_process(ts::setup_exe(), L"", changes, 60000, folder), 0u) << ts::utf8(mode);
        if (changes[L"ORVELLE_SETUP_QUIET"]) {
            EXPECT_EQ(ts::read_bytes(module), ts::module_bytes());
            ASSERT_TRUE(ts::write_bytes(folder + L"\\Lumivane.8bf.new", "left over"));
        }
    }
    EXPECT_TRUE(ts::folder_names(folder).empty()) << story();
    EXPECT_TRUE(tells(story(), "module deleted: Lumivane.8bf")) << story();
}

TEST_F(AdminRun, ModuleHeldByTheHostIsSetAsideAndDeletedOnceTheHostHasQuit) {
    ASSERT_EQ(install(), 0u);
    ts::ScratchFolder host_folder;
    ts::Child host = ts::start_process(ts::test_binary(L"module_holder.exe"),
                                       L"\"" + module + L"\" \"" + (host_folder / L"up") + L"\"", {});
    for (int i = 0; i < 400 && !ts::exists(host_folder / L"up"); ++i) Sleep(25);
    ts::Child setup = ts::start_process(ts::setup_exe(), L"",
                                        environment(L"ORVELLE_SETUP_REMOVE", L"module_holder.exe"));
    for (int i = 0; i < 400 && !tells(story(), "waiting for the host to quit"); ++i) Sleep(25);
    EXPECT_EQ(ts::folder_names(folder), std::vector<std::wstring>{L"Lumivane.8bf.old"});
    EXPECT_EQ(WaitForSingleObject(setup.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "setup did not wait";

    TerminateProcess(host.process, 0);
    CloseHandle(host.process);
    EXPECT_EQ(ts::wait_exit(setup, 30000), 0u);
    EXPECT_TRUE(ts::folder_names(folder).empty());
    const std::string text = story();
    EXPECT_TRUE(tells(text, "module in use, set aside: " + ts::utf8(folder) + "\\Lumivane.8bf.old")) << text;
    EXPECT_TRUE(tells(text, "the host has quit")) << text;
    EXPECT_TRUE(tells(text, "set-aside copy deleted: " + ts::utf8(folder) + "\\Lumivane.8bf.old")) << text;
}

// The guide's commands as README.md prints them, run by cmd /c from the folder that holds the
// setup, for a user whose profile is a scratch folder; its detection rule after each.
TEST(DeploymentGuide, CommandsRunAsPrinted) {
    const std::optional<std::wstring> readme = ts::environment_variable(L"LUMIVANE_README");
    if (!readme) GTEST_SKIP() << "LUMIVANE_README not set";
    std::string guide = ts::read_bytes(*readme).value_or("");
    guide = guide.substr(std::min(guide.size(), guide.find("## Deploying to many machines")));
    guide = guide.substr(0, guide.find("\n## "));
    std::vector<std::string> commands;
    for (size_t at = guide.find("\n    cmd /c "); at != std::string::npos; at = guide.find("\n    cmd /c ", at + 1))
        commands.push_back(guide.substr(at + 9, guide.find('\n', at + 1) - at - 9));  // after "cmd "
    ASSERT_EQ(commands.size(), 2u) << guide;
    const size_t rule = guide.find("`%USERPROFILE%\\") + 15;
    const std::string detected = guide.substr(rule, guide.find('`', rule) - rule);

    ts::ScratchFolder package, profile, temp;
    ASSERT_TRUE(CopyFileW(ts::setup_exe().c_str(), (package / L"Lumivane-Setup.exe").c_str(), FALSE));
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const std::string& command : commands) {
        const bool removal = command.find("ORVELLE_SETUP_REMOVE") != std::string::npos;
        EXPECT_EQ(ts::run_process(std::wstring(system) + L"\\cmd.exe", std::wstring(command.begin(), command.end()),
                                  {{L"USERPROFILE", profile.path()},
                                   {L"TEMP", temp.path()},
                                   {L"TMP", temp.path()},
                                   {L"ORVELLE_SETUP_DIR", std::nullopt},
                                   {L"ORVELLE_SETUP_QUIET", std::nullopt},
                                   {L"ORVELLE_SETUP_REMOVE", std::nullopt},
                                   {L"ORVELLE_SETUP_LOG", std::nullopt}},
                                  60000, package.path()),
                  0u)
            << command;
        EXPECT_EQ(ts::exists(profile / std::wstring(detected.begin(), detected.end())), !removal) << command;
        const std::string log = ts::read_bytes(temp / L"Lumivane-Setup.log").value_or("");
        EXPECT_NE(log.find(removal ? ", removal\r\n" : ", quiet run\r\n"), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with(" exit code 0\r\n")) << log;
    }
}

}  // namespace
