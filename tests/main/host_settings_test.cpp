// update_host_settings against real files: creation, leaving a true value alone, locked and
// unwritable files, and two callers at once.

#include "folder_lock.h"
#include "host_settings.h"
#include "settings_edit.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

using namespace testing_support;

namespace {

const std::string allowed_file =
    "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Settings>\r\n  <AllowUnknownPlugins> TRUE </AllowUnknownPlugins>\r\n</Settings>";
const std::string refused_file =
    "<Settings>\n  <AllowUnknownPlugins>False</AllowUnknownPlugins>\n  <Directories />\n</Settings>";
const std::string refused_file_edited =
    "<Settings>\n  <AllowUnknownPlugins>True</AllowUnknownPlugins>\n  <Directories />\n</Settings>";

std::wstring settings_in(const std::wstring& folder) { return folder + L"\\PhotoshopPluginsPreferences.xml"; }
std::wstring temporary_of(const std::wstring& settings) { return settings + L".new"; }

FILETIME last_write(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
    return data.ftLastWriteTime;
}

// An old time stamp, so that any rewrite would show.
void age(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const FILETIME year_2001{0xD53E8000, 0x01C07385};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &year_2001));
    CloseHandle(file);
}

// "Written", "AlreadyAllowed" or "failed: " and the text, so that a wrong outcome shows its reason.
std::string outcome_of(const Result<SettingsOutcome>& update) {
    if (!update.ok()) return "failed: " + update.error();
    return update.value() == SettingsOutcome::Written ? "Written" : "AlreadyAllowed";
}

HANDLE open_with_sharing(const std::wstring& path, DWORD share) {
    return CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

TEST(HostSettingsFile, MissingFolderAndFileAreCreatedFromTheNewFileText) {
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"3.0\\Settings";
    const std::wstring settings = settings_in(folder);

    const Result<SettingsOutcome> update = update_host_settings(settings);
    EXPECT_EQ(outcome_of(update), "Written");
    const auto bytes = read_bytes(settings);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 300u);
    EXPECT_EQ(*bytes, std::string(new_settings_text()));
    EXPECT_EQ(folder_names(folder), std::vector<std::wstring>{L"PhotoshopPluginsPreferences.xml"});

    // An empty file, or one of only a byte-order mark and white space, left by a host that died
    // while saving, is written as if it were missing.
    for (const std::string left : {"", "\xEF\xBB\xBF", "\xEF\xBB\xBF\r\n \t"}) {
        ASSERT_TRUE(write_bytes(settings, left));
        EXPECT_EQ(outcome_of(update_host_settings(settings)), "Written");
        EXPECT_EQ(read_bytes(settings), std::string(new_settings_text()));
    }
}

// The settings folder's lock, held elsewhere under its short name's spelling, is the same lock:
// the update waits for it only so long and then fails, writing nothing.
TEST(HostSettingsConcurrency, LockHeldElsewhereIsWaitedForOnlySoLong) {
    ScratchFolder scratch;
    const std::wstring folder = scratch / L"Settings folder";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    wchar_t short_name[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(folder.c_str(), short_name, MAX_PATH), 0u);
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, folder_lock_name(short_name).c_str());
        SetEvent(held);
        WaitForSingleObject(done, INFINITE);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    WaitForSingleObject(held, INFINITE);
    const std::wstring settings = settings_in(folder);
    const Result<SettingsOutcome> update = update_host_settings(settings);
    SetEvent(done);
    other.join();
    EXPECT_EQ(outcome_of(update), "failed: " + utf8(settings) + ": " + std::string(kFolderBusyReason));
    EXPECT_FALSE(exists(settings));
    CloseHandle(held);
    CloseHandle(done);
}

TEST(HostSettingsFile, SecondRunAfterWrittenIsAlreadyAllowed) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    ASSERT_TRUE(write_bytes(settings, refused_file));

    EXPECT_EQ(outcome_of(update_host_settings(settings)), "Written");
    EXPECT_EQ(read_bytes(settings), refused_file_edited);
    EXPECT_EQ(outcome_of(update_host_settings(settings)), "AlreadyAllowed");
    EXPECT_EQ(read_bytes(settings), refused_file_edited);
}

TEST(HostSettingsFile, AlreadyAllowedTouchesNothing) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    ASSERT_TRUE(write_bytes(settings, allowed_file));
    age(settings);
    const FILETIME before = last_write(settings);

    const Result<SettingsOutcome> update = update_host_settings(settings);
    EXPECT_EQ(outcome_of(update), "AlreadyAllowed");
    EXPECT_EQ(read_bytes(settings), allowed_file);
    const FILETIME after = last_write(settings);
    EXPECT_EQ(CompareFileTime(&before, &after), 0);
    EXPECT_EQ(folder_names(scratch.path()), std::vector<std::wstring>{L"PhotoshopPluginsPreferences.xml"});
}

// The host keeps its preferences open for reading and writing; that must not stop the read.
TEST(HostSettingsFile, ReadsAFileOthersHoldOpen) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    ASSERT_TRUE(write_bytes(settings, allowed_file));
    HANDLE held = CreateFileW(settings.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const Result<SettingsOutcome> update = update_host_settings(settings);
    CloseHandle(held);
    EXPECT_EQ(outcome_of(update), "AlreadyAllowed");
}

TEST(HostSettingsFailure, LockedFileFailsWithItsPathAndStaysUnchanged) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    ASSERT_TRUE(write_bytes(settings, refused_file));
    HANDLE lock = open_with_sharing(settings, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);

    const Result<SettingsOutcome> update = update_host_settings(settings);
    CloseHandle(lock);
    EXPECT_FALSE(update.ok());
    EXPECT_EQ(update.error(), utf8(settings) + ": " + os_reason(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(read_bytes(settings), refused_file);
    EXPECT_FALSE(exists(temporary_of(settings)));
}

// Readable but not replaceable (held open without delete sharing): the move fails, the
// temporary file goes, the settings file stays as it was, and the text still names it.
TEST(HostSettingsFailure, FailedMoveNamesTheSettingsFileAndRemovesTheTemporary) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    ASSERT_TRUE(write_bytes(settings, refused_file));
    HANDLE held = open_with_sharing(settings, FILE_SHARE_READ);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    const Result<SettingsOutcome> update = update_host_settings(settings);
    CloseHandle(held);
    EXPECT_FALSE(update.ok());
    EXPECT_EQ(update.error().rfind(utf8(settings) + ": ", 0), 0u) << update.error();
    EXPECT_NE(update.error().find("(os error "), std::string::npos) << update.error();
    EXPECT_EQ(read_bytes(settings), refused_file);
    EXPECT_FALSE(exists(temporary_of(settings)));
}

// The folder "Settings" is a file here: the path counts as absent, and creating the folder
// fails; the text names the settings file, not the folder.
TEST(HostSettingsFailure, UncreatableFolderNamesTheSettingsFile) {
    ScratchFolder scratch;
    ASSERT_TRUE(write_bytes(scratch / L"Settings", "not a folder"));
    const std::wstring settings = settings_in(scratch / L"Settings");

    const Result<SettingsOutcome> update = update_host_settings(settings);
    EXPECT_FALSE(update.ok());
    EXPECT_EQ(update.error().rfind(utf8(settings) + ": ", 0), 0u) << update.error();
    EXPECT_EQ(read_bytes(scratch / L"Settings"), "not a folder");
}

TEST(HostSettingsFailure, EditFailuresNameTheFileAndWriteNothing) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\xFF\xFE<\0S\0", 6), "invalid utf-8 sequence of 1 bytes from index 0"},
        {"<Settings><AllowUnknownPlugins>True", "XML incompleto"},
        {"<Root>\r\n</Root>", "no es el archivo de ajustes esperado"},
    };
    for (const auto& [content, reason] : cases) {
        ASSERT_TRUE(write_bytes(settings, content));
        const Result<SettingsOutcome> update = update_host_settings(settings);
        EXPECT_FALSE(update.ok());
        EXPECT_EQ(update.error(), utf8(settings) + ": " + reason);
        EXPECT_EQ(read_bytes(settings), content);
        EXPECT_FALSE(exists(temporary_of(settings)));
    }
}

// Two callers at once (the background task and a later installation) take turns: the first
// writes, the second then finds the value true. Without the lock both would share one
// temporary file and both could write, or one of them fail.
TEST(HostSettingsConcurrency, TwoCallersAtOnceTakeTurns) {
    ScratchFolder scratch;
    const std::wstring settings = settings_in(scratch.path());
    for (int round = 0; round < 40; ++round) {
        DeleteFileW(settings.c_str());
        HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::optional<Result<SettingsOutcome>> results[2];
        std::thread callers[2];
        for (int i = 0; i < 2; ++i)
            callers[i] = std::thread([&, i] {
                WaitForSingleObject(start, INFINITE);
                results[i] = update_host_settings(settings);
            });
        SetEvent(start);
        for (auto& caller : callers) caller.join();
        CloseHandle(start);

        int written = 0, allowed = 0;
        for (const auto& result : results) {
            const std::string outcome = outcome_of(*result);
            EXPECT_TRUE(outcome == "Written" || outcome == "AlreadyAllowed") << outcome;
            written += outcome == "Written";
            allowed += outcome == "AlreadyAllowed";
        }
        ASSERT_EQ(written, 1) << "round " << round;
        ASSERT_EQ(allowed, 1) << "round " << round;
        EXPECT_EQ(read_bytes(settings), std::string(new_settings_text()));
        EXPECT_FALSE(exists(temporary_of(settings)));
    }
}
