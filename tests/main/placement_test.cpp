// Placing the module into real folders: the promises a user's plug-in folder relies on.
#include <gtest/gtest.h>

#include "placement.h"
#include "test_support.h"

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

TEST_F(Placement, LeftoverTemporaryFileIsOverwritten) {
    install();
    ASSERT_TRUE(ts::write_bytes(folder + L"\\Lumivane.8bf.new", std::string(3 * bytes.size(), 'x')));
    install();
    EXPECT_EQ(ts::read_bytes(module), bytes);
    EXPECT_EQ(plugin_files(), Names{L"Lumivane.8bf"});
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
}

TEST_F(Placement, TemporaryFileThatCannotBeWrittenNamesIt) {
    install();
    ASSERT_TRUE(ts::write_bytes(module, "earlier module"));
    const std::wstring temporary = folder + L"\\Lumivane.8bf.new";
    ASSERT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr));
    const Result<std::wstring> outcome = install_plugin(folder);
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), ts::utf8(temporary) + ": " + ts::os_reason(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ts::read_bytes(module), "earlier module");  // the installed module is untouched
}

class FolderResolution : public ::testing::Test {
protected:
    void SetUp() override {
        save(L"ORVELLE_SETUP_DIR");
        save(L"USERPROFILE");
    }
    void TearDown() override {
        for (auto& [name, value] : saved_) SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    void save(const wchar_t* name) {
        wchar_t buffer[1024];
        SetLastError(0);
        const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
        saved_[name] = (n == 0 && GetLastError() != 0) ? std::nullopt : std::optional<std::wstring>(std::wstring(buffer, n));
    }
    std::map<std::wstring, std::optional<std::wstring>> saved_;
};

TEST_F(FolderResolution, ChosenFolderWinsUnchangedEvenWhenEmpty) {
    SetEnvironmentVariableW(L"USERPROFILE", L"C:\\Users\\demo");
    SetEnvironmentVariableW(L"ORVELLE_SETUP_DIR", L"D:\\Test\\Plugins\\");
    EXPECT_EQ(resolve_plugin_folder().value(), L"D:\\Test\\Plugins\\");
    SetEnvironmentVariableW(L"ORVELLE_SETUP_DIR", L"");
    ASSERT_TRUE(resolve_plugin_folder().ok());
    EXPECT_EQ(resolve_plugin_folder().value(), L"");
}

TEST_F(FolderResolution, ProfileGivesTheHostsPluginFolder) {
    SetEnvironmentVariableW(L"ORVELLE_SETUP_DIR", nullptr);
    SetEnvironmentVariableW(L"USERPROFILE", L"C:\\Users\\demo");
    EXPECT_EQ(resolve_plugin_folder().value(), L"C:\\Users\\demo\\.affinity\\Affinity\\3.0\\Plugins");
}

TEST_F(FolderResolution, NoProfileIsAFailureWithItsText) {
    SetEnvironmentVariableW(L"ORVELLE_SETUP_DIR", nullptr);
    SetEnvironmentVariableW(L"USERPROFILE", nullptr);
    const Result<std::wstring> outcome = resolve_plugin_folder();
    ASSERT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.error(), "no se encontró la carpeta del usuario (USERPROFILE).");
}

}  // namespace
