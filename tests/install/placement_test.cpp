// Placing the module into real folders: the promises a user's plug-in folder relies on.
#include <gtest/gtest.h>
#include <aclapi.h>

#include <atomic>
#include <thread>
#include <tuple>

#include "file_ops.h"
#include "folder_lock.h"
#include "placement.h"
#include "test_support.h"
#include "win32_handles.h"

namespace ts = testing_support;

namespace {

// The host as the setup looks for it; none runs in these tests.
HostSearch host_search() { return this_users_host_search(L"Affinity.exe"); }

// The real setup built with the test programs' short time limits.
std::wstring short_limits_setup_exe() {
    return ts::environment_variable(L"LUMIVANE_SHORT_LIMITS_SETUP_EXE").value_or(L"");
}

std::wstring upper_case(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// A helper process that keeps a module loaded, as a running host does.
class ModuleHolder {
public:
    explicit ModuleHolder(const std::wstring& module) {
        const std::wstring marker = scratch_ / L"loaded";
        child_ = ts::start_process(ts::test_binary(L"module_holder.exe"), L"\"" + module + L"\" \"" + marker + L"\"",
                                   {});
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
        const Result<std::wstring> outcome = install_plugin(folder, host_search());
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
                                  : ts::write_bytes(left, "left") &&
                                        SetFileAttributesW(left.c_str(), FILE_ATTRIBUTE_READONLY));
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

// A scanner that opens the new module while it is written, without delete sharing, used to keep
// it from moving in. The temporary file now shares neither writing nor deletion, so such an open
// is refused from the file's creation on and the new module always moves in.
TEST_F(Placement, AScannerWithoutDeleteSharingCannotKeepTheNewModuleOut) {
    install();
    for (int attempt = 0; attempt < 20; ++attempt) {
        ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
        std::atomic<bool> stop{false};
        std::atomic<int> refused{0};
        UniqueFileHandle scanned;
        std::thread scanner([&] {
            while (!stop && !scanned) {
                scanned.reset(CreateFileW((module + L".new").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
                refused += !scanned && GetLastError() == ERROR_SHARING_VIOLATION;
            }
        });
        const Result<std::wstring> outcome = install_plugin(folder, host_search());
        stop = true;
        scanner.join();
        ASSERT_TRUE(outcome.ok()) << outcome.error();
        EXPECT_FALSE(scanned) << "the scanner opened the temporary file";
        EXPECT_EQ(ts::read_bytes(module), bytes);
        EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
        if (refused > 0) return;  // the scanner was in time and was turned away
    }
    FAIL() << "the scanner never tried while the temporary file existed";
}

// A second writer of a temporary name that one is still writing fails cleanly instead of
// deleting or writing through the first one's file, which then moves in whole.
TEST_F(Placement, ASecondWriterOfATemporaryNameIsTurnedAway) {
    ASSERT_TRUE(CreateDirectoryW(scratch.path().c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::wstring temporary = scratch / L"file.new", target = scratch / L"file";
    Result<TemporaryFile> first = TemporaryFile::write(temporary, "first", 5);
    ASSERT_TRUE(first.ok()) << first.error();
    const Result<TemporaryFile> second = TemporaryFile::write(temporary, "second", 6);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(), ts::os_reason(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(first.value().place(target).ok());
    EXPECT_EQ(ts::read_bytes(target), "first");
    EXPECT_FALSE(ts::exists(temporary));
}

// Another program holds the temporary name open with every kind of sharing: the real setup
// either fails cleanly or installs, and never writes through the other program's handle.
TEST_F(Placement, TemporaryNameHeldByAnotherProgramIsNeverWrittenThrough) {
    install();
    ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
    const std::wstring temporary = folder + L"\\Lumivane.8bf.new";
    UniqueFileHandle other(CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0,
                                       nullptr));
    ASSERT_TRUE(other);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(other.get(), "other", 5, &written, nullptr));
    const std::optional<DWORD> code = ts::run_process(
        ts::setup_exe(), L"",
        {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", folder}, {L"ORVELLE_SETUP_APP", L"no-such-host.exe"}});
    ASSERT_TRUE(code == 0u || code == 1u) << "exit code " << code.value_or(999);
    EXPECT_EQ(ts::read_bytes(module), code == 0u ? std::optional<std::string>(bytes) : "earlier module");
    char seen[16] = {};
    DWORD read = 0;
    ASSERT_NE(SetFilePointer(other.get(), 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    ASSERT_TRUE(ReadFile(other.get(), seen, sizeof seen, &read, nullptr));
    EXPECT_EQ(std::string(seen, read), "other");
}

// A temporary file that is not placed goes with its owner: dropped at once, or after a move that
// failed (a folder stands at the target name).
TEST(TemporaryFile, OneThatIsNotPlacedGoes) {
    ts::ScratchFolder scratch;
    const std::wstring temporary = scratch / L"file.new", target = scratch / L"file";
    {
        const Result<TemporaryFile> dropped = TemporaryFile::write(temporary, "dropped", 7);
        ASSERT_TRUE(dropped.ok()) << dropped.error();
    }
    EXPECT_FALSE(ts::exists(temporary));
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    {
        Result<TemporaryFile> refused = TemporaryFile::write(temporary, "refused", 7);
        ASSERT_TRUE(refused.ok()) << refused.error();
        EXPECT_FALSE(refused.value().place(target).ok());
    }
    EXPECT_EQ(ts::folder_names(scratch.path()), std::vector<std::wstring>{L"file"});
}

// An earlier module that another program has deleted but still holds open. Windows no longer
// shows it, yet nothing may move in over it until it is closed: the install fails with no module
// at the target. Wine still shows it and sets it aside. Either way no Lumivane.8bf.new stays.
TEST_F(Placement, ModuleDeletedButStillOpenLeavesNoTemporaryFile) {
    install();
    UniqueFileHandle held(CreateFileW(module.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    FILE_DISPOSITION_INFO deleted{TRUE};
    ASSERT_TRUE(held && SetFileInformationByHandle(held.get(), FileDispositionInfo, &deleted, sizeof deleted));
    const Result<std::wstring> outcome = install_plugin(folder, host_search());
    held.reset();
    EXPECT_EQ(plugin_files(), outcome.ok() ? Names{L"Lumivane.8bf"} : Names{});
    if (outcome.ok()) {
        EXPECT_EQ(ts::read_bytes(module), bytes);
    }
}

// Set-aside names held open without delete sharing, from ".old" up to ".old{count - 1}".
std::vector<UniqueFileHandle> hold_set_aside_names(const std::wstring& module, int from, int count) {
    std::vector<UniqueFileHandle> held;
    for (int i = from; i < count; ++i) {
        const std::wstring copy = module + L".old" + (i > 0 ? std::to_wstring(i) : L"");
        EXPECT_TRUE(ts::write_bytes(copy, "held copy"));
        held.emplace_back(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    return held;
}

// The host holds the module and every name up to ".old98" is taken: ".old99", the hundredth, is
// used. Then the host holds that one too and no name can be freed: nothing of the new module stays.
TEST_F(Placement, TemporaryFileGoesWhenNoSetAsideNameCanBeFreed) {
    install();
    std::vector<UniqueFileHandle> held = hold_set_aside_names(module, 0, 99);
    {
        ModuleHolder host(module);
        ASSERT_TRUE(host.loaded());
        install();
        EXPECT_EQ(ts::read_bytes(module + L".old99"), bytes);
        EXPECT_EQ(ts::read_bytes(module), bytes);
    }
    ASSERT_TRUE(ts::write_bytes(module + L".old99", "held copy"));
    held.emplace_back(
        CreateFileW((module + L".old99").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ModuleHolder host(module);
    ASSERT_TRUE(host.loaded());
    EXPECT_EQ(install_plugin(folder, host_search()).error(), "no se pudo apartar la versi\u00F3n anterior");
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files().size(), 101u);  // no Lumivane.8bf.new
}

// With every set-aside name taken, an earlier module that nothing holds is still replaced: in one
// move, or, when it is read-only, after its deletion (read-only counts as deletable).
TEST_F(Placement, WithEverySetAsideNameTakenAFreeOrReadOnlyModuleIsStillReplaced) {
    install();
    const std::vector<UniqueFileHandle> held = hold_set_aside_names(module, 0, 100);
    for (const bool read_only : {false, true}) {
        ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
        if (read_only) {
            ASSERT_TRUE(SetFileAttributesW(module.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        const Result<std::wstring> outcome = install_plugin(folder, host_search());
        EXPECT_TRUE(outcome.ok()) << "read-only: " << read_only << ": " << outcome.error();
        EXPECT_EQ(ts::read_bytes(module), bytes) << "read-only: " << read_only;
        EXPECT_EQ(plugin_files().size(), 101u);
    }
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
    const Result<std::wstring> outcome = install_plugin(L"", host_search());
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
    const Result<std::wstring> outcome = install_plugin(folder, host_search());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), ts::utf8(folder) + ": " + ts::os_reason(ERROR_ALREADY_EXISTS));

    // A drive that does not exist: the system's reason for its root.
    wchar_t letter = L'Z';
    while (GetLogicalDrives() & (1u << (letter - L'A'))) --letter;
    folder = std::wstring(1, letter) + L":\\missing\\Plugins";
    EXPECT_EQ(install_plugin(folder, host_search()).error(),
              ts::utf8(folder) + ": " + ts::os_reason(ERROR_PATH_NOT_FOUND));
}

// "." and ".." count as the system resolves them: the settings sit beside the folder the module
// went into.
TEST_F(Placement, SettingsSitBesideTheFolderTheModuleReallyWentInto) {
    for (const auto& [given, module_folder, parent] :
         {std::tuple{L"a\\Plugins\\.", L"a\\Plugins", L"a"}, std::tuple{L"b\\x\\Plugins\\..", L"b\\x", L"b"}}) {
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
    const Result<std::wstring> outcome = install_plugin(folder, host_search());
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), ts::utf8(temporary) + ": " + ts::os_reason(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(ts::read_bytes(module), "earlier module");  // the installed module is untouched
}

// A setup killed while it held the folder's lock leaves it abandoned: the next one takes it over
// and lets it go again.
TEST_F(Placement, LockLeftByAKilledSetupIsTakenOverAndLetGo) {
    ASSERT_TRUE(create_folder(folder).ok());
    UniqueHandle left(CreateMutexW(nullptr, FALSE, folder_lock_name(folder).c_str()));
    std::thread([&] { WaitForSingleObject(left.get(), 0); }).join();  // ends owning it
    install();
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(left.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0)); }).join();
}

// A folder's lock is named after the folder itself: as typed, with the "\\?\" prefix, by its
// short name, in another case or with a trailing separator, one name; another folder, another.
// A folder that does not exist yet is named after its normalised path.
TEST(FolderLock, OneNamePerFolderWhateverItsSpelling) {
    ts::ScratchFolder scratch;
    const std::wstring folder = scratch / L"Plug-in folder", other = scratch / L"Other folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && CreateDirectoryW(other.c_str(), nullptr));
    wchar_t short_name[MAX_PATH];
    const DWORD length = GetShortPathNameW(folder.c_str(), short_name, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    ASSERT_NE(std::wstring(short_name), folder);
    const std::wstring name = folder_lock_name(folder);
    EXPECT_NE(name, folder_lock_name(L"C:\\missing\\Plug-in folder"));  // read from the folder, not its path
    for (const std::wstring& same : {L"\\\\?\\" + folder, std::wstring(short_name), folder + L"\\", upper_case(folder)})
        EXPECT_EQ(folder_lock_name(same), name) << ts::utf8(same);
    EXPECT_NE(folder_lock_name(other), name);

    const std::wstring missing = folder_lock_name(L"C:\\Users\\demo\\Plugins");
    for (const wchar_t* same :
         {L"c:\\USERS\\Demo\\plugins\\", L"C:/Users/demo/x/../Plugins/.", L"\\\\?\\C:\\Users\\demo\\Plugins"})
        EXPECT_EQ(folder_lock_name(same), missing) << ts::utf8(same);
    EXPECT_NE(folder_lock_name(L"C:\\Users\\demo"), missing);

    // One name for the user's setups in every session, elevated or not.
    EXPECT_TRUE(name.starts_with(L"Global\\Lumivane-Setup-")) << ts::utf8(name);
    EXPECT_TRUE(missing.starts_with(L"Global\\Lumivane-Setup-path-")) << ts::utf8(missing);
    // A share that cannot be reached: its verbatim spelling names the same server, not a folder "server".
    const std::wstring share = folder_lock_name(L"\\\\nosuchserver\\share\\Plugins");
    EXPECT_EQ(folder_lock_name(L"\\\\?\\UNC\\nosuchserver\\share\\Plugins"), share);
    EXPECT_EQ(folder_lock_name(L"\\\\NOSUCHSERVER\\Share\\Plugins\\"), share);
    EXPECT_NE(folder_lock_name(L"\\\\?\\UNC\\nosuchserver\\share\\Plugins"),
              folder_lock_name(L"\\\\?\\nosuchserver\\share\\Plugins"));
}

// A lock that another setup keeps is waited for only so long (3 s in the test programs), and a
// lock that cannot be had at all is not gone without: either way the install fails with a
// Spanish reason and writes nothing. The quiet run of the real setup then ends with 1.
TEST_F(Placement, LockThatCannotBeHadFailsTheInstallWithASpanishReason) {
    ASSERT_TRUE(create_folder(folder).ok());
    const std::wstring lock_name = folder_lock_name(folder);
    const std::wstring settings = folder + L"\\..\\Settings\\PhotoshopPluginsPreferences.xml";
    HANDLE held_event = CreateEventW(nullptr, TRUE, FALSE, nullptr),
           release_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other_setup([&] {
        UniqueHandle mutex(CreateMutexW(nullptr, TRUE, lock_name.c_str()));
        SetEvent(held_event);
        WaitForSingleObject(release_event, INFINITE);
        ReleaseMutex(mutex.get());
    });
    WaitForSingleObject(held_event, INFINITE);
    const Result<std::wstring> busy = install_plugin(folder, host_search());
    const std::optional<DWORD> quiet = ts::run_process(short_limits_setup_exe(), L"",
                                                       {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", folder}});
    SetEvent(release_event);
    other_setup.join();
    EXPECT_EQ(busy.error(), ts::utf8(folder) + ": otra instalaci\u00F3n est\u00E1 en curso en esta carpeta");
    EXPECT_EQ(quiet, std::optional<DWORD>(1));
    EXPECT_EQ(plugin_files(), Names{});
    EXPECT_FALSE(ts::exists(settings));

    // The name taken by another kind of object.
    UniqueHandle squatter(CreateEventW(nullptr, TRUE, FALSE, lock_name.c_str()));
    ASSERT_TRUE(squatter);
    const Result<std::wstring> refused = install_plugin(folder, host_search());
    EXPECT_EQ(refused.error(), ts::utf8(folder) + ": no se pudo reservar la carpeta para esta instalaci\u00F3n: " +
                                   ts::os_reason(ERROR_INVALID_HANDLE));
    EXPECT_EQ(plugin_files(), Names{});
    squatter.reset();

    // A mutex whose access list lets this user in nowhere, as an elevated setup's default one
    // would not let its unelevated twin in.
    SECURITY_DESCRIPTOR closed;
    ACL empty;
    ASSERT_TRUE(InitializeSecurityDescriptor(&closed, SECURITY_DESCRIPTOR_REVISION) &&
                InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
                SetSecurityDescriptorDacl(&closed, TRUE, &empty, FALSE));
    SECURITY_ATTRIBUTES closed_attributes{sizeof closed_attributes, &closed, FALSE};
    UniqueHandle shut(CreateMutexW(&closed_attributes, FALSE, lock_name.c_str()));
    ASSERT_TRUE(shut);
    EXPECT_EQ(install_plugin(folder, host_search()).error(),
              ts::utf8(folder) +
                  ": no se pudo reservar la carpeta para esta instalaci\u00F3n: " + ts::os_reason(ERROR_ACCESS_DENIED));
    EXPECT_EQ(plugin_files(), Names{});
    CloseHandle(held_event);
    CloseHandle(release_event);
}

// The lock's own access list lets the user's SID in, whether or not the setup that made it was
// elevated, and the system and the administrators besides, each allowed at least a wait and a
// release; no one else.
TEST_F(Placement, LockIsOpenToTheSameUserUnelevated) {
    ASSERT_TRUE(create_folder(folder).ok());
    const Result<FolderLock> lock = lock_folder(folder);
    ASSERT_TRUE(lock.ok()) << lock.error();
    UniqueHandle mutex(OpenMutexW(READ_CONTROL, FALSE, folder_lock_name(folder).c_str()));
    ASSERT_TRUE(mutex);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    unsigned char user[256];
    DWORD size = sizeof user;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, size, &size));
    CloseHandle(token);
    unsigned char system[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD system_size = sizeof system, admins_size = sizeof admins;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size) &&
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size));
    ASSERT_TRUE(dacl);
    ASSERT_EQ(dacl->AceCount, 3);
    const PSID allowed[] = {reinterpret_cast<TOKEN_USER*>(user)->User.Sid, system, admins};
    for (WORD i = 0; i < 3; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_TRUE(EqualSid(&ace->SidStart, allowed[i])) << i;
        EXPECT_EQ(ace->Mask & (SYNCHRONIZE | MUTEX_MODIFY_STATE), static_cast<DWORD>(SYNCHRONIZE | MUTEX_MODIFY_STATE));
    }
    LocalFree(descriptor);
}

// Tokens of this user for a second run: this process's own (empty), which looks elevated, and,
// when it is elevated, one that does not: the Administrators group for deny only, at medium
// integrity, as a split token's unelevated half has it.
std::vector<UniqueHandle> elevated_and_unelevated_tokens() {
    std::vector<UniqueHandle> tokens;
    tokens.emplace_back();
    UniqueHandle own;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()) ||
        !GetTokenInformation(own.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
        ADD_FAILURE() << "own token: " << ts::os_reason(GetLastError());
        return tokens;
    }
    // Unelevated, this user has no elevated token to hand without asking: the one run is its own.
    if (!elevation.TokenIsElevated) return tokens;
    unsigned char admins[SECURITY_MAX_SID_SIZE], medium[SECURITY_MAX_SID_SIZE];
    DWORD admins_size = sizeof admins, medium_size = sizeof medium;
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &admins_size);
    CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &medium_size);
    SID_AND_ATTRIBUTES deny_only{admins, 0};
    UniqueHandle unelevated;
    TOKEN_MANDATORY_LABEL label{{medium, SE_GROUP_INTEGRITY}};
    EXPECT_TRUE(CreateRestrictedToken(own.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, unelevated.put()) &&
                SetTokenInformation(unelevated.get(), TokenIntegrityLevel, &label,
                                    static_cast<DWORD>(sizeof label) + GetLengthSid(medium)))
        << ts::os_reason(GetLastError());
    tokens.push_back(std::move(unelevated));
    return tokens;
}

// The lock's one name and access list serialise the same user's elevated and unelevated runs:
// while this process (elevated) holds it, a second run of either kind waits, then installs. Run
// unelevated (a Windows machine with UAC), only the unelevated run is shown; under Wine the
// unelevated token still reports itself elevated.
TEST_F(Placement, LockSerialisesTheSameUsersElevatedAndUnelevatedRuns) {
    ASSERT_TRUE(create_folder(folder).ok());
    std::optional<Result<FolderLock>> held(lock_folder(folder));
    ASSERT_TRUE(held->ok()) << held->error();
    std::vector<ts::Child> runs;
    for (const UniqueHandle& token : elevated_and_unelevated_tokens())
        runs.push_back(ts::start_process_as(token.get(), ts::setup_exe(), L"",
                                            {{L"ORVELLE_SETUP_QUIET", L""}, {L"ORVELLE_SETUP_DIR", folder}}));
    RecordProperty("elevated_beside_unelevated", runs.size() == 2 ? "yes" : "no");
    ASSERT_FALSE(runs.empty());
    Sleep(2000);
    for (const ts::Child& run : runs)
        EXPECT_EQ(WaitForSingleObject(run.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "did not wait";
    EXPECT_EQ(plugin_files(), Names{});
    held.reset();
    for (ts::Child& run : runs) EXPECT_EQ(ts::wait_exit(run, 60000), std::optional<DWORD>(0));
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
}

// The driver reads ORVELLE_SETUP_DIR and USERPROFILE once and hands them in.
TEST(FolderResolution, ChosenFolderWinsUnchangedEvenWhenEmpty) {
    const std::optional<std::wstring> profile = L"C:\\Users\\demo";
    EXPECT_EQ(resolve_plugin_folder({L"D:\\Test\\Plugins\\", profile}).value(), L"D:\\Test\\Plugins\\");
    const Result<std::wstring> empty = resolve_plugin_folder({L"", profile});
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.value(), L"");
}

TEST(FolderResolution, ProfileGivesTheHostsPluginFolder) {
    EXPECT_EQ(resolve_plugin_folder({std::nullopt, L"C:\\Users\\demo"}).value(),
              L"C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins");
}

TEST(FolderResolution, NoProfileIsAFailureWithItsText) {
    const Result<std::wstring> outcome = resolve_plugin_folder({std::nullopt, std::nullopt});
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), "no se encontró la carpeta del usuario (USERPROFILE).");
}

}  // namespace
