// What Explorer and the window read from the executable itself: the version block, the icon
// group (eight PNG images) and the absence of a manifest.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test_support.h"

namespace ts = testing_support;

namespace {

class ExecutableResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExW(ts::setup_exe().c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    std::string resource(const wchar_t* type, const wchar_t* name) {
        HRSRC found = FindResourceW(module_, name, type);
        if (!found) return {};
        const void* data = LockResource(LoadResource(module_, found));
        return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
    }
    std::wstring version_string(const wchar_t* key) {
        const std::wstring path = ts::setup_exe();
        DWORD ignored = 0;
        std::vector<char> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
            return L"<no version block>";
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            return L"<missing>";
        return std::wstring(value, length > 0 ? length - 1 : 0);
    }
    HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ExecutableResources, VersionBlockNamesTheProductAndVersion) {
    EXPECT_EQ(version_string(L"FileVersion"), L"0.4.0");
    EXPECT_EQ(version_string(L"ProductVersion"), L"0.4.0");
    EXPECT_EQ(version_string(L"ProductName"), L"Lumivane");
    EXPECT_EQ(version_string(L"FileDescription"), L"Lumivane Setup");
    EXPECT_EQ(version_string(L"CompanyName"), L"Orvelle");
    EXPECT_EQ(version_string(L"OriginalFilename"), L"Lumivane-Setup.exe");

    const std::string block = resource(RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_GT(block.size(), 40u + sizeof(VS_FIXEDFILEINFO));
    const size_t at = block.find("\xBD\x04\xEF\xFE");  // VS_FIXEDFILEINFO signature
    ASSERT_NE(at, std::string::npos);
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block.data() + at, sizeof fixed);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00000004u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00000004u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00000000u);
}

TEST_F(ExecutableResources, IconGroupOneHoldsEightPngImagesOfTheListedSizes) {
    const std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u);
    WORD count = 0;
    std::memcpy(&count, group.data() + 4, 2);
    ASSERT_EQ(count, 8);
    ASSERT_EQ(group.size(), 6u + count * sizeof(GroupIconEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        EXPECT_EQ(entry.bit_count, 32);
        EXPECT_EQ(entry.width, entry.height);
        sizes.push_back(entry.width);
        const std::string image = resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
        EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8)) << "image " << entry.width;
        EXPECT_EQ(image.size(), entry.bytes);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 40, 48, 64, 128}));
}

TEST_F(ExecutableResources, NoApplicationManifest) {
    EXPECT_TRUE(resource(RT_MANIFEST, MAKEINTRESOURCEW(1)).empty());
    EXPECT_TRUE(resource(RT_MANIFEST, MAKEINTRESOURCEW(2)).empty());
}

TEST_F(ExecutableResources, GuiSubsystem) {
    const std::string image = ts::read_bytes(ts::setup_exe()).value_or("");
    ASSERT_GT(image.size(), 0x200u);
    LONG pe = 0;
    std::memcpy(&pe, image.data() + 0x3C, 4);
    IMAGE_NT_HEADERS64 headers;
    std::memcpy(&headers, image.data() + pe, sizeof headers);
    EXPECT_EQ(headers.Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(headers.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(headers.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

}  // namespace
