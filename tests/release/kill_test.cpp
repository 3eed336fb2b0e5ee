// Crash safety of the real quiet install: the setup is run again and again into one folder and
// terminated at random moments, from process start-up to exit. After every kill the folder holds
// no half-written module or settings file, an earlier module that no host held is still there or
// replaced (never missing), and the next, unkilled run puts everything right. Then several setups
// are started together on one folder, which each reaches by another spelling. Both run with the
// small module and with one of realistic size (Lumivane-Setup-large-module.exe, 24 MiB), whose
// long write leaves room for races.
//
// LUMIVANE_KILLS sets how many kills to make (default 30); LUMIVANE_KILL_SEED repeats a run.
// The summary (kills per phase) goes to standard output for bench/kill-test.sh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <random>

#include "folder_state.h"
#include "test_support.h"

namespace ts = testing_support;
using namespace kill_test;

namespace {

unsigned environment_number(const wchar_t* name, unsigned fallback) {
    const std::optional<std::wstring> value = ts::environment_variable(name);
    if (!value || value->empty()) return fallback;
    return static_cast<unsigned>(std::wcstoul(value->c_str(), nullptr, 10));
}

double now_ms() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / frequency;
}

// Sleeps most of the way, then spins, so that delays below a millisecond are honoured too.
void wait_until(double deadline) {
    while (deadline - now_ms() > 2.0) Sleep(1);
    while (now_ms() < deadline) YieldProcessor();
}

// A running host stand-in that has loaded whatever was at the module's path when it started.
class Holder {
public:
    Holder(const std::wstring& module, const std::wstring& marker) : marker_(marker) {
        child_ = ts::start_process(ts::test_binary(L"kill_module_holder.exe"),
                                   L"\"" + module + L"\" \"" + marker + L"\"", {});
        for (int i = 0; i < 1000 && !ts::exists(marker) && child_.process; ++i) Sleep(10);
    }
    ~Holder() {
        if (!child_.process) return;
        TerminateProcess(child_.process, 0);
        WaitForSingleObject(child_.process, 10000);
        CloseHandle(child_.process);
        DeleteFileW(marker_.c_str());
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool loaded() const { return ts::exists(marker_); }

private:
    std::wstring marker_;
    ts::Child child_;
};

// The setup with the module of realistic size, and that module.
std::wstring large_module_setup() { return ts::environment_variable(L"LUMIVANE_LARGE_MODULE_SETUP_EXE").value_or(L""); }
std::string large_module_bytes() {
    const std::optional<std::wstring> path = ts::environment_variable(L"LUMIVANE_LARGE_MODULE");
    return path ? ts::read_bytes(*path).value_or("") : "";
}

class KillTest : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    // A name that is not a short (8.3) one, so that the folder's short name is another spelling.
    Paths paths{scratch / L"Plug-in folder", scratch / L"Settings\\PhotoshopPluginsPreferences.xml"};
    std::wstring setup_program = ts::setup_exe();
    ModuleVersions versions{ts::module_bytes()};

    // From here on the runs use the setup with the module of realistic size.
    void use_large_module() {
        setup_program = large_module_setup();
        versions = ModuleVersions(large_module_bytes());
        ASSERT_GT(versions.new_bytes().size(), 20'000'000u) << "LUMIVANE_LARGE_MODULE not read";
    }
    std::deque<std::unique_ptr<Holder>> holders;
    unsigned holder_count = 0;
    bool earlier_held = false;  // this round's earlier module is loaded by a host stand-in
    const unsigned seed = environment_number(L"LUMIVANE_KILL_SEED", GetTickCount());
    std::mt19937 random{seed};

    // The real quiet install into <scratch>\Plugins. No host process can match the watched name,
    // so the run never lingers for a background task.
    ts::Child start_setup(bool suspended = false, const std::wstring& folder = L"") {
        return ts::start_process(setup_program, L"",
                                 {{L"ORVELLE_SETUP_QUIET", L""},
                                  {L"ORVELLE_SETUP_DIR", folder.empty() ? paths.plugins : folder},
                                  {L"ORVELLE_SETUP_APP", L"lumivane-kill-test-no-such-host.exe"}},
                                 L"", suspended);
    }

    bool chance(unsigned in) { return std::uniform_int_distribution<unsigned>(1, in)(random) == 1; }

    // A folder as users leave it: an earlier module (or none, or this release already), sometimes
    // loaded by a running host, and one of the settings files the host may have left.
    const SettingsFixture& prepare_round() {
        while (!holders.empty() && (holders.size() > 2 || chance(2))) holders.pop_front();
        earlier_held = false;  // every finished run leaves a module that no stand-in has loaded

        const unsigned module_choice = std::uniform_int_distribution<unsigned>(0, 7)(random);
        if (module_choice == 0) {
            DeleteFileW(paths.module().c_str());  // refused while a host holds it: then it stays
        } else if (module_choice <= 5) {
            // A distinguishable earlier module; a held one cannot be replaced and stays as it is
            // (a name whose deletion is still pending takes no new file: then there is none).
            if (!ts::exists(paths.module()) || DeleteFileW(paths.module().c_str()))
                ts::write_bytes(paths.module(), versions.make_earlier());
        }  // else: this release, as the last run left it
        if (ts::exists(paths.module()) && chance(3)) {
            auto holder = std::make_unique<Holder>(paths.module(),
                                                   scratch / (L"loaded-" + std::to_wstring(++holder_count)));
            EXPECT_TRUE(holder->loaded()) << "the host stand-in could not load the earlier module";
            holders.push_back(std::move(holder));
            earlier_held = true;
        }

        const auto& fixtures = settings_fixtures();
        const SettingsFixture& fixture = fixtures[random() % fixtures.size()];
        DeleteFileW(paths.settings.c_str());
        if (fixture.folder_missing) RemoveDirectoryW((scratch / L"Settings").c_str());
        if (fixture.before) {
            CreateDirectoryW((scratch / L"Settings").c_str(), nullptr);
            EXPECT_TRUE(ts::write_bytes(paths.settings, *fixture.before));
        }
        return fixture;
    }

    // Every file the setup touched is whole: the module is absent, the earlier one or the new
    // one; set-aside copies are modules that were installed; the settings are as before or the
    // complete edited text.
    void expect_whole_files(const FolderState& before, const FolderState& after, const SettingsFixture& fixture,
                            unsigned round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", settings: " + fixture.name);
        if (after.module) {
            EXPECT_TRUE(*after.module == versions.new_bytes() || after.module == before.module)
                << "Lumivane.8bf holds " << after.module->size() << " bytes that are neither the earlier "
                << "module nor the new one";
        }
        // An earlier module that nobody holds is replaced in one move: there is always a module.
        if (before.module && !earlier_held) {
            EXPECT_TRUE(after.module) << "no module although the earlier one was free";
        }
        // A held one goes aside only once the whole new one waits beside it for its move.
        if (before.module && !after.module) {
            EXPECT_TRUE(after.temporary == versions.new_bytes()) << "Lumivane.8bf gone without a complete .new";
        }
        for (const auto& [name, bytes] : after.copies)
            EXPECT_TRUE(versions.is_known(bytes)) << ts::utf8(name) << " is not a whole module";
        EXPECT_TRUE(after.settings == before.settings || after.settings == fixture.after)
            << "settings file neither as before nor the complete edit: "
            << (after.settings ? *after.settings : std::string("(none)"));
        if (after.settings != before.settings) {
            EXPECT_NE(after.settings->find("<AllowUnknownPlugins>True</AllowUnknownPlugins>"), std::string::npos);
        }
    }

    // Unkilled run times: the whole run, and its working part from the moment the temporary
    // module appears. Start-up under Wine takes most of a run, so half of the kills are timed
    // from that moment to land in the file work rather than only in the process start.
    std::vector<double> run_ms, work_ms;

    static double median(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    }
    static void remember(std::vector<double>& values, double value) {
        values.push_back(value);
        if (values.size() > 21) values.erase(values.begin());
    }

    // Polls until the temporary module appears; the moment, or nullopt when the setup ended first.
    std::optional<double> wait_for_temporary(const ts::Child& setup) {
        const std::wstring temporary = paths.temporary();
        for (;;) {
            if (GetFileAttributesW(temporary.c_str()) != INVALID_FILE_ATTRIBUTES) return now_ms();
            if (WaitForSingleObject(setup.process, 0) != WAIT_TIMEOUT) return std::nullopt;
            SwitchToThread();
        }
    }

    // Runs the setup to its end, noting how long it took.
    std::optional<DWORD> timed_run() {
        const double start = now_ms();
        ts::Child setup = start_setup();
        const std::optional<double> working = wait_for_temporary(setup);
        const std::optional<DWORD> code = ts::wait_exit(setup, 60000);
        const double end = now_ms();
        remember(run_ms, end - start);
        if (working) remember(work_ms, end - *working);
        return code;
    }

    // An unkilled run after a kill ends well and leaves nothing behind that it could have removed.
    void expect_recovery(const SettingsFixture& fixture, unsigned round) {
        SCOPED_TRACE("recovery after round " + std::to_string(round) + ", settings: " + fixture.name);
        EXPECT_EQ(timed_run(), std::optional<DWORD>(0));
        const FolderState state = read_state(paths);
        EXPECT_EQ(state.module, versions.new_bytes()) << "new module not in place";
        EXPECT_FALSE(state.temporary) << "Lumivane.8bf.new left behind";
        EXPECT_EQ(state.settings, fixture.after);
        EXPECT_FALSE(state.settings_temporary) << "settings' temporary file left behind";
        for (const auto& [name, bytes] : state.copies) {
            EXPECT_TRUE(versions.is_known(bytes)) << ts::utf8(name) << " is not a whole module";
            // Only a copy that a running host still holds may stay; one we can delete was stale.
            const std::wstring path = paths.plugins + L"\\" + name;
            EXPECT_FALSE(DeleteFileW(path.c_str())) << ts::utf8(name) << " was left although it could be deleted";
        }
    }

    // Starts the setup and terminates it after a random delay: over the whole run, or over its
    // file work. True when the kill landed; false when the run had already ended (exit checked).
    bool run_and_kill(unsigned round) {
        const double start = now_ms();
        ts::Child setup = start_setup();
        if (!setup.process) return false;
        // A little past the usual end, so that late kills are not rare.
        double from = start, span = median(run_ms) * 1.15;
        if (random() % 2 == 0 && !work_ms.empty()) {
            const std::optional<double> working = wait_for_temporary(setup);
            from = working.value_or(now_ms());
            span = median(work_ms) * 1.15;
        }
        wait_until(from + std::uniform_real_distribution<double>(0.0, span)(random));
        const bool running = WaitForSingleObject(setup.process, 0) == WAIT_TIMEOUT;
        if (running) TerminateProcess(setup.process, 77);
        const std::optional<DWORD> code = ts::wait_exit(setup, 30000);
        if (!running) {
            EXPECT_EQ(code, std::optional<DWORD>(0)) << "round " << round << ": an unkilled run failed";
        }
        return running;
    }
    void kill_rounds(unsigned wanted);
    void setups_at_once(unsigned setups, unsigned rounds, const char* module);
};

void KillTest::kill_rounds(unsigned wanted) {
    std::printf("kill test: seed %u (LUMIVANE_KILL_SEED=%u repeats the choices), module of %zu bytes\n", seed, seed,
                versions.new_bytes().size());
    // The first runs of a fresh prefix are slow; these set the delay ranges.
    for (int i = 0; i < 9; ++i) {
        prepare_round();
        EXPECT_EQ(timed_run(), std::optional<DWORD>(0));
    }

    std::map<Phase, unsigned> phases;
    unsigned kills = 0, round = 0, free_earlier_kills = 0, free_earlier_lost = 0;
    while (kills < wanted && !HasFailure()) {
        ++round;
        const SettingsFixture& fixture = prepare_round();
        const FolderState before = read_state(paths);
        const bool killed = run_and_kill(round);
        const FolderState after = read_state(paths);
        expect_whole_files(before, after, fixture, round);
        if (killed) {
            ++kills;
            ++phases[classify(before, after, versions.new_bytes())];
            free_earlier_kills += before.module && !earlier_held;
            free_earlier_lost += before.module && !earlier_held && !after.module;
        }
        expect_recovery(fixture, round);
    }
    holders.clear();

    std::printf(
        "kill test: %u kills in %u rounds (%u runs ended before their kill); unkilled run %.1f ms, "
        "of it %.2f ms from the temporary module to exit (medians)\n",
        kills, round, round - kills, median(run_ms), median(work_ms));
    std::printf("kill test: %u kills with an earlier module no host held; after %u of them no whole module\n",
                free_earlier_kills, free_earlier_lost);
    for (Phase phase : kAllPhases) std::printf("  %-55s %u\n", phase_name(phase), phases[phase]);
    std::fflush(stdout);
    EXPECT_GE(kills, wanted);
}

TEST_F(KillTest, EveryKillLeavesWholeFilesAndTheNextRunRecovers) {
    kill_rounds(environment_number(L"LUMIVANE_KILLS", 30));
}

// A third as many kills again with the module of realistic size: kills land inside its long write.
TEST_F(KillTest, EveryKillLeavesWholeFilesWithARealisticModule) {
    use_large_module();
    kill_rounds((environment_number(L"LUMIVANE_KILLS", 30) + 2) / 3);
}

// The folder as typed, with the "\\?\" prefix and by its short (8.3) name: three spellings that
// must take one lock.
std::vector<std::wstring> spellings_of(const std::wstring& folder) {
    wchar_t short_name[MAX_PATH];
    const DWORD length = GetShortPathNameW(folder.c_str(), short_name, MAX_PATH);
    EXPECT_TRUE(length > 0 && length < MAX_PATH && std::wstring(short_name) != folder)
        << "no short name for " << ts::utf8(folder);
    return {folder, L"\\\\?\\" + folder, std::wstring(short_name, length)};
}

// Several setups let go together on one folder, each spelling it one of three ways, take turns:
// each ends with 0 and the folder holds the whole new module and nothing temporary.
void KillTest::setups_at_once(unsigned setups, unsigned rounds, const char* module) {
    unsigned failed_runs = 0, rounds_without_module = 0, rounds_with_temporary = 0;
    for (unsigned round = 1; round <= rounds; ++round) {
        prepare_round();
        CreateDirectoryW(paths.plugins.c_str(), nullptr);
        const std::vector<std::wstring> spellings = spellings_of(paths.plugins);
        std::vector<ts::Child> running;
        for (unsigned i = 0; i < setups; ++i) running.push_back(start_setup(true, spellings[i % spellings.size()]));
        for (ts::Child& child : running) ts::resume(child);
        for (ts::Child& child : running) failed_runs += ts::wait_exit(child, 300000) != std::optional<DWORD>(0);
        const FolderState state = read_state(paths);
        rounds_without_module += state.module != versions.new_bytes();
        rounds_with_temporary += state.temporary || state.settings_temporary;
    }
    std::printf(
        "setups at once (%s module, spelled as typed, with \\\\?\\ and short): %u setups, %u rounds; "
        "%u runs failed, %u rounds without a whole module, %u with a temporary file left\n",
        module, setups, rounds, failed_runs, rounds_without_module, rounds_with_temporary);
    std::fflush(stdout);
    EXPECT_EQ(failed_runs + rounds_without_module + rounds_with_temporary, 0u);
}

// LUMIVANE_SETUPS_AT_ONCE (default 4) setups, LUMIVANE_ROUNDS_AT_ONCE (default 3) rounds, with
// the small module and then with the realistic one.
TEST_F(KillTest, SetupsAtOnceTakeTurnsAndLeaveOneWholeModule) {
    const unsigned setups = environment_number(L"LUMIVANE_SETUPS_AT_ONCE", 4);
    const unsigned rounds = environment_number(L"LUMIVANE_ROUNDS_AT_ONCE", 3);
    setups_at_once(setups, rounds, "small");
    use_large_module();
    setups_at_once(setups, rounds, "realistic");
}

}  // namespace
