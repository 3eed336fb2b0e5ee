// The host watch with real processes: a stand-in host (Affinity.exe, also copied under other
// names) and quiet runs of the real Lumivane-Setup.exe. Whose host counts is decided with
// handed-in processes, since Wine runs everything as one user in one session.

#include "background_task.h"
#include "host_search.h"
#include "host_watch.h"
#include "placement.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

HostSearch search_for(const std::wstring& name) { return this_users_host_search(name); }

// The system's list with every process's user and session replaced, as the list would show
// another user's processes.
ProcessLister listed_as(std::optional<std::wstring> user_sid, unsigned long session) {
    return [user_sid, session] {
        std::vector<RunningProcess> processes = list_running_processes();
        for (RunningProcess& process : processes) {
            process.user_sid = user_sid;
            process.session = session;
        }
        return processes;
    };
}

constexpr wchar_t kOwnSid[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr wchar_t kOtherSid[] = L"S-1-5-21-1004336348-1177238915-682003330-1002";

}  // namespace

// The setup's own user's hosts count in every session; another user's never; a host whose user
// the system could not tell only in the setup's own session.
TEST(HostSearch, OnlyTheSetupUsersHostsCount) {
    const HostSearch search{L"Affinity.exe", kOwnSid, 2, 40, nullptr};
    const auto counts = [&](ProcessId id, unsigned long session, std::optional<std::wstring> sid,
                            const wchar_t* name = L"Affinity.exe") {
        return counts_as_host(RunningProcess{id, session, std::move(sid), name}, search);
    };
    EXPECT_TRUE(counts(7, 2, kOwnSid));
    EXPECT_TRUE(counts(7, 5, kOwnSid));  // the same user logged on again elsewhere
    EXPECT_TRUE(counts(7, 0, kOwnSid));
    EXPECT_FALSE(counts(7, 2, kOtherSid));  // another user's, even in this session
    EXPECT_FALSE(counts(7, 5, kOtherSid));
    EXPECT_TRUE(counts(7, 2, std::nullopt));
    EXPECT_FALSE(counts(7, 5, std::nullopt));
    EXPECT_TRUE(counts(7, 2, kOwnSid, L"aFFINITY.EXE"));
    EXPECT_FALSE(counts(7, 2, kOwnSid, L"Affinity.exe.bak"));
    EXPECT_FALSE(counts(40, 2, kOwnSid));  // the setup itself
    EXPECT_FALSE(counts(7, 2, kOwnSid, L""));

    // A setup whose own user cannot be read goes by the session alone.
    const HostSearch unknown{L"Affinity.exe", std::nullopt, 2, 40, nullptr};
    EXPECT_TRUE(counts_as_host(RunningProcess{7, 2, kOtherSid, L"Affinity.exe"}, unknown));
    EXPECT_FALSE(counts_as_host(RunningProcess{7, 5, kOwnSid, L"Affinity.exe"}, unknown));
    // An empty host name matches no process, not even one without a name.
    const HostSearch empty{L"", kOwnSid, 2, 40, nullptr};
    EXPECT_FALSE(counts_as_host(RunningProcess{7, 2, kOwnSid, L""}, empty));
}

TEST(HostSearch, KeepsTheListsOrderAndAsksTheListerEveryTime) {
    int asked = 0;
    HostSearch search{L"Affinity.exe", kOwnSid, 1, 40, [&asked] {
                          ++asked;
                          return std::vector<RunningProcess>{{9, 1, kOwnSid, L"Affinity.exe"},
                                                             {3, 1, kOtherSid, L"Affinity.exe"},
                                                             {5, 3, kOwnSid, L"AFFINITY.EXE"},
                                                             {4, 1, std::nullopt, L"affinity.exe"},
                                                             {6, 1, kOwnSid, L"Other.exe"}};
                      }};
    EXPECT_EQ(find_host_processes(search), (std::vector<ProcessId>{9, 5, 4}));
    EXPECT_EQ(find_host_processes(search), (std::vector<ProcessId>{9, 5, 4}));
    EXPECT_EQ(asked, 2);
    search.list_processes = [] { return std::vector<RunningProcess>{}; };
    EXPECT_TRUE(find_host_processes(search).empty());
}

// The system's list under Wine: the stand-in host with this process's user and session; the
// snapshot that stands in where that list cannot be had, with the session but no user.
TEST(HostSearch, SystemListsTellTheTestHostsUserAndSession) {
    Host host(test_binary(L"Affinity.exe"));
    const HostSearch search = search_for(L"Affinity.exe");
    ASSERT_TRUE(search.user_sid.has_value());
    const auto entry_of = [&](const std::vector<RunningProcess>& processes) {
        const auto found = std::find_if(processes.begin(), processes.end(),
                                        [&](const RunningProcess& p) { return p.id == host.id(); });
        return found == processes.end() ? std::optional<RunningProcess>() : std::optional(*found);
    };
    const std::optional<RunningProcess> listed = entry_of(list_running_processes());
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->exe_name, L"Affinity.exe");
    EXPECT_EQ(listed->user_sid, search.user_sid);
    EXPECT_EQ(listed->session, search.session);
    const std::optional<RunningProcess> snapshot = entry_of(snapshot_running_processes());
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->exe_name, L"Affinity.exe");
    EXPECT_EQ(snapshot->user_sid, std::nullopt);
    EXPECT_EQ(snapshot->session, search.session);
}

// Another user's host, listed as the system would list it, starts no watch: the install's
// preferences edit is made, and the quiet run's wait that follows has nothing to wait for. The
// same host as this user's own does start one.
TEST(HostOfAnotherUser, StartsNoWatchSoTheQuietRunEndsAtOnce) {
    ScratchFolder scratch;
    const std::wstring settings = settings_of(scratch);
    Host host(test_binary(L"Affinity.exe"));
    HostSearch search = search_for(L"Affinity.exe");
    ASSERT_TRUE(contains(find_host_processes(search), host.id()));
    const auto install = [&] {
        DeleteFileW(settings.c_str());  // so that the preferences are written and the host looked for
        const Result<std::wstring> installed = install_plugin(scratch / L"Plugins", search);
        ASSERT_TRUE(installed.ok()) << installed.error();
        EXPECT_TRUE(holds_element(settings));
    };
    for (const auto& [sid, session] : {std::pair{std::optional<std::wstring>(kOtherSid), search.session},
                                       std::pair{std::optional<std::wstring>(kOtherSid), search.session + 1},
                                       std::pair{std::optional<std::wstring>(), search.session + 1}}) {
        search.list_processes = listed_as(sid, session);
        install();
        EXPECT_FALSE(BackgroundTaskSlot::take()) << "a watch started for " << utf8(sid.value_or(L"no user"));
        EXPECT_TRUE(host.running());
    }
    search.list_processes = listed_as(search.user_sid, search.session + 1);
    install();
    UniqueHandle watch = BackgroundTaskSlot::take();
    ASSERT_TRUE(watch) << "no watch for this user's host in another session";
    EXPECT_EQ(WaitForSingleObject(watch.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    host.quit();
    EXPECT_EQ(WaitForSingleObject(watch.get(), kHangMs), WAIT_OBJECT_0);
}

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

    const std::vector<ProcessId> found = find_host_processes(search_for(L"Affinity.exe"));
    EXPECT_TRUE(contains(found, upper.id()));
    EXPECT_TRUE(contains(found, lower.id()));
    EXPECT_FALSE(contains(found, backup.id()));
    EXPECT_FALSE(contains(found, prefixed.id()));
    EXPECT_TRUE(contains(find_host_processes(search_for(L"MYAFFINITY.exe")), prefixed.id()));
    EXPECT_TRUE(find_host_processes(search_for(L"")).empty());

    lower.quit();
    EXPECT_FALSE(contains(find_host_processes(search_for(L"Affinity.exe")), lower.id()));
}

// A process that cannot be opened is watched through the process list; one that is gone
// from it counts as ended, so the task goes on to what it was handed, once.
TEST(HostWatchTask, UnopenableProcessThatIsGoneEndsTheWait) {
    DWORD gone = 0;
    {
        Host host(test_binary(L"Affinity.exe"));
        gone = host.id();
    }
    struct Shared {
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atomic<int> after_quit{0};
        HostWatch watch;
    };
    auto shared = std::make_shared<Shared>();
    shared->watch = HostWatch{search_for(L"Affinity.exe"), {gone}, [shared = shared.get()] { ++shared->after_quit; }};
    std::thread([shared] {
        host_watch_task(std::move(shared->watch));
        SetEvent(shared->done);
    }).detach();
    ASSERT_EQ(WaitForSingleObject(shared->done, kHangMs), WAIT_OBJECT_0) << "the task kept waiting";
    EXPECT_EQ(shared->after_quit, 1);
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
