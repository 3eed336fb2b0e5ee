// The host watch with real processes: a stand-in host (Affinity.exe, also copied under other
// names) and quiet runs of the real Lumivane-Setup.exe.

#include "host_watch.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

using namespace testing_support;

namespace {

constexpr DWORD kHangMs = 60000;  // only to detect a hang; nothing here is timed
constexpr DWORD kStillWaitingMs = 3000;

const std::string kHostRewrite =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Settings>\r\n\t<Directories />\r\n</Settings>";
const std::string kHostRewriteEdited =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Settings>\r\n\t<Directories />\r\n"
    "\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n</Settings>";
const std::string kAllowed = "<Settings>\r\n\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n</Settings>";

// A running stand-in host. `settings`, when given, is what it rewrites (without the element)
// as it quits.
class Host {
public:
    explicit Host(const std::wstring& exe, const std::wstring& settings = L"") {
        static int counter = 0;
        const std::wstring base = L"lumivane-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++counter);
        ready_ = CreateEventW(nullptr, TRUE, FALSE, (base + L"-ready").c_str());
        quit_ = CreateEventW(nullptr, TRUE, FALSE, (base + L"-quit").c_str());
        std::wstring arguments = base + L"-ready " + base + L"-quit";
        if (!settings.empty()) arguments += L" \"" + settings + L"\"";
        child_ = start_process(exe, arguments, {});
        HANDLE either[] = {ready_, child_.process};
        if (!child_.process || WaitForMultipleObjects(2, either, FALSE, kHangMs) != WAIT_OBJECT_0)
            ADD_FAILURE() << "stand-in host " << utf8(exe) << " did not start";
    }
    ~Host() {
        if (child_.process) quit();
        CloseHandle(ready_);
        CloseHandle(quit_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    DWORD id() const { return child_.id; }
    bool running() const { return child_.process && WaitForSingleObject(child_.process, 0) == WAIT_TIMEOUT; }
    void quit() {
        SetEvent(quit_);
        EXPECT_EQ(wait_exit(child_, kHangMs), 0u) << "stand-in host did not quit cleanly";
    }

private:
    HANDLE ready_ = nullptr;
    HANDLE quit_ = nullptr;
    Child child_;
};

// The stand-in under another file name, in a folder of its own.
std::wstring host_copy(const ScratchFolder& scratch, const std::wstring& folder, const std::wstring& name) {
    CreateDirectoryW((scratch / folder).c_str(), nullptr);
    const std::wstring path = scratch / (folder + L"\\" + name);
    EXPECT_TRUE(CopyFileW(test_binary(L"Affinity.exe").c_str(), path.c_str(), FALSE)) << utf8(path);
    return path;
}

bool has_visible_window(DWORD process_id) {
    struct Search {
        DWORD id;
        bool found;
    } search{process_id, false};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->id && IsWindowVisible(window)) s->found = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A quiet run of the real setup into <scratch>\Plugins; the preferences land in
// <scratch>\Settings\PhotoshopPluginsPreferences.xml.
class QuietSetup {
public:
    QuietSetup(const ScratchFolder& scratch, std::optional<std::wstring> app) {
        child_ = start_process(setup_exe(), L"",
                               {{L"ORVELLE_SETUP_QUIET", L""},
                                {L"ORVELLE_SETUP_DIR", scratch / L"Plugins"},
                                {L"ORVELLE_SETUP_APP", std::move(app)},
                                {L"ORVELLE_SETUP_AUTO", std::nullopt}});
    }
    ~QuietSetup() {
        if (child_.process) wait_exit(child_, 0);  // kills a setup left running by a failed test
    }
    QuietSetup(const QuietSetup&) = delete;
    QuietSetup& operator=(const QuietSetup&) = delete;

    DWORD id() const { return child_.id; }
    bool still_running_after(DWORD ms) const {
        return child_.process && WaitForSingleObject(child_.process, ms) == WAIT_TIMEOUT;
    }
    std::optional<DWORD> exit_code() { return wait_exit(child_, kHangMs); }

private:
    Child child_;
};

std::wstring settings_of(const ScratchFolder& scratch) {
    return scratch / L"Settings\\PhotoshopPluginsPreferences.xml";
}

bool holds_element(const std::wstring& settings) {
    const auto bytes = read_bytes(settings);
    return bytes && bytes->find("<AllowUnknownPlugins>True</AllowUnknownPlugins>") != std::string::npos;
}

// The first edit of the preferences happens during the installation, before the watch starts.
void wait_for_first_edit(const std::wstring& settings) {
    for (DWORD waited = 0; !holds_element(settings) && waited < kHangMs; waited += 50) Sleep(50);
    ASSERT_TRUE(holds_element(settings)) << "the installation did not write the preferences";
}

bool contains(const std::vector<ProcessId>& ids, DWORD id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

}  // namespace

TEST(HostName, AsciiLettersFoldAndNothingElse) {
    EXPECT_TRUE(is_host_name(L"Affinity.exe", L"Affinity.exe"));
    EXPECT_TRUE(is_host_name(L"AFFINITY.EXE", L"Affinity.exe"));
    EXPECT_TRUE(is_host_name(L"affinity.exe", L"AfFiNiTy.ExE"));
    EXPECT_FALSE(is_host_name(L"Affinity.exe.bak", L"Affinity.exe"));
    EXPECT_FALSE(is_host_name(L"Affinity", L"Affinity.exe"));
    EXPECT_FALSE(is_host_name(L"Affinity.ex", L"Affinity.exe"));
    EXPECT_FALSE(is_host_name(L"\u00C4ffinity.exe", L"\u00E4ffinity.exe"));  // Ä and ä
    EXPECT_TRUE(is_host_name(L"\u00C4FFINITY.EXE", L"\u00C4ffinity.exe"));
    EXPECT_FALSE(is_host_name(L"Affinity.exe", L""));
    EXPECT_FALSE(is_host_name(L"Affinity@exe", L"Affinity`exe"));  // only letters fold
}

TEST(HostName, ComesFromTheVariableWhenItIsValidUnicode) {
    EXPECT_EQ(host_executable_name(std::nullopt), L"Affinity.exe");
    EXPECT_EQ(host_executable_name(L"Other.exe"), L"Other.exe");
    EXPECT_EQ(host_executable_name(L""), L"");
    EXPECT_EQ(host_executable_name(L"F\u00F6to.exe"), L"F\u00F6to.exe");
    EXPECT_EQ(host_executable_name(std::wstring(L"x\xD800.exe")), L"Affinity.exe");
}

TEST(HostProcesses, FoundByExactNameInAnyAsciiCase) {
    ScratchFolder scratch;
    Host upper(host_copy(scratch, L"a", L"AFFINITY.EXE"));
    Host lower(host_copy(scratch, L"b", L"affinity.exe"));
    Host backup(host_copy(scratch, L"c", L"Affinity.exe.bak"));
    Host prefixed(host_copy(scratch, L"d", L"MyAffinity.exe"));

    const std::vector<ProcessId> found = find_host_processes(L"Affinity.exe");
    EXPECT_TRUE(contains(found, upper.id()));
    EXPECT_TRUE(contains(found, lower.id()));
    EXPECT_FALSE(contains(found, backup.id()));
    EXPECT_FALSE(contains(found, prefixed.id()));
    EXPECT_TRUE(contains(find_host_processes(L"MYAFFINITY.exe"), prefixed.id()));
    EXPECT_TRUE(find_host_processes(L"").empty());

    lower.quit();
    EXPECT_FALSE(contains(find_host_processes(L"Affinity.exe"), lower.id()));
}

// A process that cannot be opened is watched through the process list; one that is gone
// from it counts as ended, so the task goes on to the edit.
TEST(HostWatchTask, UnopenableProcessThatIsGoneEndsTheWait) {
    ScratchFolder scratch;
    DWORD gone = 0;
    {
        Host host(test_binary(L"Affinity.exe"));
        gone = host.id();
    }
    struct Shared {
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HostWatch watch;
    };
    auto shared = std::make_shared<Shared>();
    shared->watch = HostWatch{L"Affinity.exe", {gone}, settings_of(scratch), {}};
    std::thread([shared] {
        host_watch_task(std::move(shared->watch));
        SetEvent(shared->done);
    }).detach();
    ASSERT_EQ(WaitForSingleObject(shared->done, kHangMs), WAIT_OBJECT_0) << "the task kept waiting";
    EXPECT_TRUE(holds_element(settings_of(scratch)));
}

TEST(QuietRunWithHost, StaysAliveWithoutWindowUntilTheHostQuitsThenEditsAgain) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    Host host(test_binary(L"Affinity.exe"), settings);
    QuietSetup setup(scratch, std::nullopt);

    wait_for_first_edit(settings);
    EXPECT_TRUE(setup.still_running_after(kStillWaitingMs));
    EXPECT_FALSE(has_visible_window(setup.id()));

    host.quit();
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_EQ(read_bytes(settings), kHostRewriteEdited);
    EXPECT_FALSE(exists(settings + L".new"));
}

TEST(QuietRunWithHost, WaitsForEveryHostAndEditsOnceAfterTheLast) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    Host first(test_binary(L"Affinity.exe"), settings);
    Host second(host_copy(scratch, L"second", L"Affinity.exe"), settings);
    QuietSetup setup(scratch, std::nullopt);
    wait_for_first_edit(settings);

    first.quit();
    EXPECT_TRUE(setup.still_running_after(kStillWaitingMs));
    EXPECT_EQ(read_bytes(settings), kHostRewrite) << "edited before the last host had quit";

    second.quit();
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_EQ(read_bytes(settings), kHostRewriteEdited);
}

TEST(QuietRunWithHost, ChosenHostNameIsWatchedInAnyAsciiCase) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    Host usual(test_binary(L"Affinity.exe"));
    Host other(host_copy(scratch, L"other", L"oTHER.EXE"), settings);
    QuietSetup setup(scratch, L"Other.exe");
    wait_for_first_edit(settings);
    EXPECT_TRUE(setup.still_running_after(kStillWaitingMs));

    other.quit();
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_EQ(read_bytes(settings), kHostRewriteEdited);
    EXPECT_TRUE(usual.running());
}

TEST(QuietRunWithHost, NameThatIsNotValidUnicodeMeansTheUsualHost) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    Host host(test_binary(L"Affinity.exe"), settings);
    QuietSetup setup(scratch, std::wstring(L"\xDC00Other.exe"));
    wait_for_first_edit(settings);
    EXPECT_TRUE(setup.still_running_after(kStillWaitingMs));

    host.quit();
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_EQ(read_bytes(settings), kHostRewriteEdited);
}

// In these runs nothing is watched: the setup ends while the host is still running.
TEST(QuietRunWithoutWatch, EmptyHostNameStartsNothing) {
    ScratchFolder scratch;
    Host host(test_binary(L"Affinity.exe"));
    QuietSetup setup(scratch, L"");
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_TRUE(host.running());
    EXPECT_TRUE(holds_element(settings_of(scratch)));
}

TEST(QuietRunWithoutWatch, NoHostRunningEndsAtOnce) {
    ScratchFolder scratch;
    QuietSetup setup(scratch, std::nullopt);
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_TRUE(holds_element(settings_of(scratch)));
}

TEST(QuietRunWithoutWatch, AlreadyAllowedSettingsStartNoWatch) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    CreateDirectoryW((scratch / L"Settings").c_str(), nullptr);
    ASSERT_TRUE(write_bytes(settings, kAllowed));
    Host host(test_binary(L"Affinity.exe"), settings);
    QuietSetup setup(scratch, std::nullopt);
    EXPECT_EQ(setup.exit_code(), 0u);
    EXPECT_TRUE(host.running());
    EXPECT_EQ(read_bytes(settings), kAllowed);
}

// The setup itself carries the host's name, named in ORVELLE_SETUP_APP or saved as Affinity.exe:
// it does not wait for its own end (a hang is killed after kHangMs).
TEST(QuietRunWithoutWatch, SetupNeverWaitsForItself) {
    ScratchFolder scratch;
    const std::wstring exe = setup_exe(), as_host = scratch / L"Affinity.exe";
    ASSERT_TRUE(CopyFileW(exe.c_str(), as_host.c_str(), FALSE));
    for (const auto& [run, app] : {std::pair{exe, std::optional(exe.substr(exe.rfind(L'\\') + 1))},
                                   std::pair{as_host, std::optional<std::wstring>()}}) {
        DeleteFileW(settings_of(scratch).c_str());  // so that the settings are written and the host looked for
        EXPECT_EQ(run_process(run, L"",
                              {{L"ORVELLE_SETUP_QUIET", L""},
                               {L"ORVELLE_SETUP_DIR", scratch / L"Plugins"},
                               {L"ORVELLE_SETUP_APP", app}},
                              kHangMs),
                  0u)
            << utf8(run);
        EXPECT_TRUE(holds_element(settings_of(scratch)));
    }
}
