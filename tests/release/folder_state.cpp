#include "folder_state.h"

#include <cstring>

#include "settings_edit.h"
#include "test_support.h"

namespace ts = testing_support;

namespace kill_test {

namespace {

constexpr std::wstring_view kCopyPrefix = L"Lumivane.8bf.old";
constexpr std::string_view kTagPrefix = "\nlumivane-kill-test earlier module ";

// Offset of the PE header's TimeDateStamp: e_lfanew (at 0x3C) + "PE\0\0" + Machine + NumberOfSections.
size_t time_stamp_offset(const std::string& module) {
    uint32_t pe = 0;
    if (module.size() < 0x40) return std::string::npos;
    std::memcpy(&pe, module.data() + 0x3C, sizeof pe);
    const size_t offset = size_t{pe} + 8;
    return offset + 4 <= module.size() ? offset : std::string::npos;
}

}  // namespace

FolderState read_state(const Paths& paths) {
    FolderState state;
    state.module = ts::read_bytes(paths.module());
    state.temporary = ts::read_bytes(paths.temporary());
    for (const std::wstring& name : ts::folder_names(paths.plugins)) {
        if (!name.starts_with(kCopyPrefix)) continue;
        if (auto bytes = ts::read_bytes(paths.plugins + L"\\" + name)) state.copies[name] = std::move(*bytes);
    }
    state.settings = ts::read_bytes(paths.settings);
    state.settings_temporary = ts::read_bytes(paths.settings_temporary());
    return state;
}

std::string ModuleVersions::tagged(unsigned number) const {
    std::string bytes = new_;
    if (const size_t offset = time_stamp_offset(bytes); offset != std::string::npos) {
        const uint32_t stamp = 0x5EED0000u + number;
        std::memcpy(bytes.data() + offset, &stamp, sizeof stamp);
    }
    bytes += kTagPrefix;
    bytes += std::to_string(number);
    bytes += '\n';
    return bytes;
}

std::string ModuleVersions::make_earlier() { return tagged(++made_); }

bool ModuleVersions::is_known(const std::string& bytes) const {
    if (bytes == new_) return true;
    // An earlier module ends in its tag; rebuild it from the number and compare in full.
    const size_t tag = bytes.rfind(kTagPrefix);
    if (tag == std::string::npos || bytes.size() < 2) return false;
    const std::string digits = bytes.substr(tag + kTagPrefix.size(), bytes.size() - 1 - tag - kTagPrefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned number = static_cast<unsigned>(std::stoul(digits));
    return number >= 1 && number <= made_ && bytes == tagged(number);
}

const std::vector<SettingsFixture>& settings_fixtures() {
    // The created file's exact bytes are held to the letter by the settings tests.
    static const std::string created(new_settings_text());
    static const std::vector<SettingsFixture> fixtures = {
        {"no Settings folder", std::nullopt, true, created},
        {"no settings file", std::nullopt, false, created},
        {"value False, BOM, CRLF",
         "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Settings>\r\n  <AllowUnknownPlugins>False</AllowUnknownPlugins>\r\n"
         "  <Directories>\r\n    <string>D:\\Filters</string>\r\n  </Directories>\r\n</Settings>",
         false,
         "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n<Settings>\r\n  <AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n"
         "  <Directories>\r\n    <string>D:\\Filters</string>\r\n  </Directories>\r\n</Settings>"},
        {"no key, LF only", "<?xml version=\"1.0\"?>\n<Settings>\n\t<Directories />\n</Settings>\n", false,
         "<?xml version=\"1.0\"?>\n<Settings>\n\t<Directories />\n"
         "\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n</Settings>\n"},
        {"already allowed", "<Settings>\r\n\t<AllowUnknownPlugins> true </AllowUnknownPlugins>\r\n</Settings>", false,
         "<Settings>\r\n\t<AllowUnknownPlugins> true </AllowUnknownPlugins>\r\n</Settings>"},
    };
    return fixtures;
}

const char* phase_name(Phase phase) {
    switch (phase) {
        case Phase::NothingTouched: return "start-up, nothing touched";
        case Phase::WritingTemporary: return "writing Lumivane.8bf.new";
        case Phase::TemporaryWritten: return "Lumivane.8bf.new written, earlier module in place";
        case Phase::ModuleGone: return "earlier module deleted or set aside, not yet replaced";
        case Phase::ModulePlaced: return "new module placed, settings not yet changed";
        case Phase::WritingSettings: return "writing the settings' temporary file";
        case Phase::SettingsWritten: return "settings written";
        case Phase::Indistinct: return "indistinct (earlier module had the new bytes)";
    }
    return "?";
}

Phase classify(const FolderState& before, const FolderState& after, const std::string& new_module) {
    if (after.settings != before.settings) return Phase::SettingsWritten;
    if (after.settings_temporary) return Phase::WritingSettings;
    if (after.temporary) {
        if (*after.temporary != new_module) return Phase::WritingTemporary;
        if (!after.module && before.module) return Phase::ModuleGone;
        return Phase::TemporaryWritten;
    }
    if (!after.module) return before.module ? Phase::ModuleGone : Phase::NothingTouched;
    if (after.module == before.module && after.copies == before.copies) {
        // With the new bytes already installed, "untouched" and "placed again" look the same.
        return before.module == new_module ? Phase::Indistinct : Phase::NothingTouched;
    }
    return Phase::ModulePlaced;
}

}  // namespace kill_test
