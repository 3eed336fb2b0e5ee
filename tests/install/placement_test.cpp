// Placing the module into real folders: the promises a user's plug-in folder relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "folder_lock.h"
#include "placement.h"
#include "test_support.h"
#include "win32_handles.h"

namespace ts = testing_support;

namespace {

// A helper process that keeps a module loaded, as a running host does.
class ModuleHolder {
public:
    explicit ModuleHolder(const std::wstring& module) {
        const std::wstring marker = scratch_ / L"loaded";
        child_ = ts::start_process(ts::test_binary(L"module_holder.exe"), L"\"" + module + L"\" \"" + marker + L"\"", {});
        for (int i = 0; i < 400 && !ts::exists(marker); ++i) Sleep(25);
        loaded_ = ts::exists(marker);
    }
    ~ModuleHolder() {
        if (child_.process) {
            TerminateProcess(child_.process, 0);
            WaitForSingleObject(child_.process, 10000);
            CloseHandle(child_.process);
        }
    }
    bool loaded() const { return loaded_; }

private:
    ts::ScratchFolder scratch_;
    ts::Child child_;
    bool loaded_ = false;
};

class Placement : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring folder = scratch / L"profile\\.affinity\\Affinity\\3.0\\Plugins";
    std::wstring module = folder + L"\\Lumivane.8bf";
    std::string bytes = ts::module_bytes();

    std::wstring install() {
        const Result<std::wstring> outcome = install_plugin(folder);
        EXPECT_TRUE(outcome.ok()) << outcome.error();
        return outcome.ok() ? outcome.value() : std::wstring();
    }
    std::vector<std::wstring> plugin_files() {
        std::vector<std::wstring> names = ts::folder_names(folder);
        std::sort(names.begin(), names.end());
        return names;
    }
};

using Names = std::vector<std::wstring>;

TEST_F(Placement, FirstInstallCreatesTheFolderChainAndWritesExactlyTheModule) {
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_EQ(install(), module);
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
}

TEST_F(Placement, ReinstallReplacesTheEarlierModuleWithoutACopy) {
    install();
    ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
    install();
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
}

TEST_F(Placement, ReadOnlyModuleIsReplacedWithoutACopy) {
    install();
    ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
    ASSERT_TRUE(SetFileAttributesW(module.c_str(), FILE_ATTRIBUTE_READONLY));
    install();
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
}

// Whatever a crashed run or another program left at a temporary name is taken away, not written
// through: a read-only file (which could not be opened for writing), then an empty folder.
TEST_F(Placement, WhateverStandsAtATemporaryNameMakesWayForAFreshFile) {
    install();
    const std::wstring settings = folder + L"\\..\\Settings\\PhotoshopPluginsPreferences.xml";
    for (const bool as_folder : {false, true}) {
        ASSERT_TRUE(DeleteFileW(settings.c_str()));  // so that the settings are written again
        for (const std::wstring& left : {folder + L"\\Lumivane.8bf.new", settings + L".new"})
            ASSERT_TRUE(as_folder ? CreateDirectoryW(left.c_str(), nullptr)
                                  : ts::write_bytes(left, "left") && SetFileAttributesW(left.c_str(), FILE_ATTRIBUTE_READONLY));
        install();
        EXPECT_EQ(ts::read_bytes(module), bytes);
        EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
        EXPECT_TRUE(ts::exists(settings) && !ts::exists(settings + L".new")) << "as folder: " << as_folder;
    }
}

TEST_F(Placement, ModuleHeldByTheHostIsSetAsideAndTheNextFreeNameIsUsed) {
    install();
    {
        ModuleHolder first(module);
        ASSERT_TRUE(first.loaded());
        install();
        EXPECT_EQ(ts::read_bytes(module), bytes);
        EXPECT_EQ(ts::read_bytes(folder + L"\\Lumivane.8bf.old"), bytes);
        EXPECT_EQ(plugin_files(), (Names{L"Lumivane.8bf", L"Lumivane.8bf.old"}));

        // Now ".old" is held as well as the new module: the copy goes to ".old1", and the held
        // ".old" cannot be cleaned up yet.
        ModuleHolder second(module);
        ASSERT_TRUE(second.loaded());
        install();
        EXPECT_EQ(ts::read_bytes(module), bytes);
        EXPECT_EQ(plugin_files(), (Names{L"Lumivane.8bf", L"Lumivane.8bf.old", L"Lumivane.8bf.old1"}));
    }
    // Once the host has let go, the next run removes the stale copies.
    install();
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
}

// A scanner that opens the new module while it is written, without delete sharing, keeps it from
// moving in: the earlier module, set aside for a second try, comes back. The scanner has to be in
// time, so it may take a few tries.
TEST_F(Placement, EarlierModuleComesBackWhenTheNewOneCannotMoveIn) {
    install();
    for (int attempt = 0; attempt < 1000; ++attempt) {  // mostly the first few; more on a busy machine
        ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
        std::atomic<bool> stop{false};
        UniqueFileHandle scanned;
        std::thread scanner([&] {
            while (!stop && !scanned)
                scanned.reset(CreateFileW((module + L".new").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
        });
        const Result<std::wstring> outcome = install_plugin(folder);
        stop = true;
        scanner.join();
        if (outcome.ok()) continue;  // the scanner came too late
        EXPECT_EQ(outcome.error(), ts::utf8(module) + ": " + ts::os_reason(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(ts::read_bytes(module), "earlier module");
        EXPECT_EQ(plugin_files(), (Names{L"Lumivane.8bf", L"Lumivane.8bf.new"}));  // .new is still open
        return;
    }
    FAIL() << "the scanner never opened the temporary file in time";
}

// The host holds the module and no set-aside name can be freed: nothing of the new one stays.
TEST_F(Placement, TemporaryFileGoesWhenNoSetAsideNameCanBeFreed) {
    install();
    std::vector<UniqueFileHandle> held;  // open without delete sharing
    for (int i = 0; i < 100; ++i) {
        const std::wstring copy = module + L".old" + (i > 0 ? std::to_wstring(i) : L"");
        ASSERT_TRUE(ts::write_bytes(copy, "held copy"));
        held.emplace_back(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    ModuleHolder host(module);
    ASSERT_TRUE(host.loaded());
    EXPECT_EQ(install_plugin(folder).error(), "no se pudo apartar la versi\u00F3n anterior");
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files().size(), 101u);  // no Lumivane.8bf.new
}

TEST_F(Placement, StaleCopiesAreRemovedButOnlyByTheirExactName) {
    install();
    for (const wchar_t* name : {L"Lumivane.8bf.old", L"Lumivane.8bf.old7", L"Lumivane.8bf.old.bak", L"other.8bf"})
        ASSERT_TRUE(ts::write_bytes(folder + L"\\" + name, "stale"));
    install();
    EXPECT_EQ(plugin_files(), (Names{L"Lumivane.8bf", L"other.8bf"}));

    // A name in another case is not one of ours.
    ASSERT_TRUE(ts::write_bytes(folder + L"\\lumivane.8bf.old7", "someone else's"));
    install();
    EXPECT_EQ(plugin_files(), (Names{L"Lumivane.8bf", L"lumivane.8bf.old7", L"other.8bf"}));
}

TEST_F(Placement, EmptyFolderMeansTheCurrentFolderAndNoCleanUp) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
    ASSERT_TRUE(ts::write_bytes(scratch / L"Lumivane.8bf.old", "stale"));
    const Result<std::wstring> outcome = install_plugin(L"");
    SetCurrentDirectoryW(previous);
    ASSERT_TRUE(outcome.ok()) << outcome.error();
    EXPECT_EQ(outcome.value(), L"Lumivane.8bf");
    EXPECT_EQ(ts::read_bytes(scratch / L"Lumivane.8bf"), bytes);
    // The empty path cannot be listed and has no parent: no clean-up, no settings folder.
    std::vector<std::wstring> names = ts::folder_names(scratch.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{L"Lumivane.8bf", L"Lumivane.8bf.old"}));
}

TEST_F(Placement, FolderThatCannotBeCreatedNamesTheFolder) {
    ASSERT_TRUE(ts::write_bytes(scratch / L"blocker", "a file where a folder should be"));
    folder = scratch / L"blocker\\Plugins";
    const Result<std::wstring> outcome = install_plugin(folder);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), ts::utf8(folder) + ": " + ts::os_reason(ERROR_ALREADY_EXISTS));

    // A drive that does not exist: the system's reason for its root.
    wchar_t letter = L'Z';
    while (GetLogicalDrives() & (1u << (letter - L'A'))) --letter;
    folder = std::wstring(1, letter) + L":\\missing\\Plugins";
    EXPECT_EQ(install_plugin(folder).error(), ts::utf8(folder) + ": " + ts::os_reason(ERROR_PATH_NOT_FOUND));
}

// "." and ".." count as the system resolves them: the settings sit beside the folder the module
// went into.
TEST_F(Placement, SettingsSitBesideTheFolderTheModuleReallyWentInto) {
    for (const auto& [given, module_folder, parent] : {std::tuple{L"a\\Plugins\\.", L"a\\Plugins", L"a"},
                                                       std::tuple{L"b\\x\\Plugins\\..", L"b\\x", L"b"}}) {
        folder = scratch / given;
        install();
        EXPECT_EQ(ts::read_bytes(scratch / module_folder + L"\\Lumivane.8bf"), bytes) << ts::utf8(folder);
        EXPECT_TRUE(ts::exists(scratch / parent + L"\\Settings\\PhotoshopPluginsPreferences.xml")) << ts::utf8(folder);
    }
}

TEST_F(Placement, TemporaryFileThatCannotBeWrittenNamesIt) {
    install();
    ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
    const std::wstring temporary = folder + L"\\Lumivane.8bf.new";
    ASSERT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr));  // a folder that is not empty stays
    ASSERT_TRUE(ts::write_bytes(temporary + L"\\kept", "kept"));
    const Result<std::wstring> outcome = install_plugin(folder);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), ts::utf8(temporary) + ": " + ts::os_reason(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(ts::read_bytes(module), "earlier module");  // the installed module is untouched
}

// A setup killed while it held the folder's lock leaves it abandoned: the next one takes it over
// and lets it go again.
TEST_F(Placement, LockLeftByAKilledSetupIsTakenOverAndLetGo) {
    UniqueHandle left(CreateMutexW(nullptr, FALSE, folder_lock_name(folder).c_str()));
    std::thread([&] { WaitForSingleObject(left.get(), 0); }).join();  // ends owning it
    install();
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(left.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)); }).join();
}

TEST(FolderLock, OneNamePerFolderWhateverItsSpelling) {
    const std::wstring name = folder_lock_name(L"C:\\Users\\demo\\Plugins");
    for (const wchar_t* same : {L"c:\\USERS\\Demo\\plugins\\", L"C:/Users/demo/x/../Plugins/."})
        EXPECT_EQ(folder_lock_name(same), name) << ts::utf8(same);
    EXPECT_NE(folder_lock_name(L"C:\\Users\\demo"), name);
}

class FolderResolution : public ::testing::Test {
protected:
    ts::ScopedEnvironment environment;
};

TEST_F(FolderResolution, ChosenFolderWinsUnchangedEvenWhenEmpty) {
    environment.set(L"USERPROFILE", L"C:\\Users\\demo");
    environment.set(L"ORVELLE_SETUP_DIR", L"D:\\Test\\Plugins\\");
    EXPECT_EQ(resolve_plugin_folder().value(), L"D:\\Test\\Plugins\\");
    environment.set(L"ORVELLE_SETUP_DIR", L"");
    ASSERT_TRUE(resolve_plugin_folder().ok());
    EXPECT_EQ(resolve_plugin_folder().value(), L"");
}

TEST_F(FolderResolution, ProfileGivesTheHostsPluginFolder) {
    environment.set(L"ORVELLE_SETUP_DIR", std::nullopt);
    environment.set(L"USERPROFILE", L"C:\\Users\\demo");
    EXPECT_EQ(resolve_plugin_folder().value(), L"C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins");
}

TEST_F(FolderResolution, NoProfileIsAFailureWithItsText) {
    environment.set(L"ORVELLE_SETUP_DIR", std::nullopt);
    environment.set(L"USERPROFILE", std::nullopt);
    const Result<std::wstring> outcome = resolve_plugin_folder();
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), "no se encontró la carpeta del usuario (USERPROFILE).");
}

}  // namespace
