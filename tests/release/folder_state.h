// What the kill test sees in the plug-in folder and the settings folder, and what it may see.
#pragma once
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kill_test {

// The files the setup writes, read as they are on disk.
struct FolderState {
    std::optional<std::string> module;              // Lumivane.8bf
    std::optional<std::string> temporary;           // Lumivane.8bf.new
    std::map<std::wstring, std::string> copies;     // Lumivane.8bf.old*, by name
    std::optional<std::string> settings;            // PhotoshopPluginsPreferences.xml
    std::optional<std::string> settings_temporary;  // PhotoshopPluginsPreferences.xml.new
};

struct Paths {
    std::wstring plugins;   // <scratch>\Plugins
    std::wstring settings;  // <scratch>\Settings\PhotoshopPluginsPreferences.xml

    std::wstring module() const { return plugins + L"\\Lumivane.8bf"; }
    std::wstring temporary() const { return plugins + L"\\Lumivane.8bf.new"; }
    std::wstring settings_temporary() const { return settings + L".new"; }
};

FolderState read_state(const Paths& paths);

// Earlier modules: the new module with its PE time stamp changed and a tag appended, so they
// differ from the new bytes inside and in length, yet still load like the real thing.
class ModuleVersions {
public:
    explicit ModuleVersions(std::string new_bytes) : new_(std::move(new_bytes)) {}
    const std::string& new_bytes() const { return new_; }
    std::string make_earlier();
    // The new bytes or one of the earlier modules made so far, whole and unchanged.
    bool is_known(const std::string& bytes) const;

private:
    std::string tagged(unsigned number) const;
    std::string new_;
    unsigned made_ = 0;
};

// A settings file the host might have left, and the exact text the edit must turn it into.
struct SettingsFixture {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file
    bool folder_missing;                // no Settings folder either
    std::string after;                  // equal to `before` when it already allows unknown plug-ins
};
const std::vector<SettingsFixture>& settings_fixtures();

// Where in its run a killed setup stood, told from what the folders held afterwards.
enum class Phase {
    NothingTouched,    // start-up, or killed before the temporary module was opened
    WritingTemporary,  // Lumivane.8bf.new incomplete
    TemporaryWritten,  // Lumivane.8bf.new complete, the earlier module still in place
    ModuleGone,        // the earlier module deleted or set aside, the move not yet made
    ModulePlaced,      // new module in place, settings not (yet) changed
    WritingSettings,   // the settings' temporary file exists, the settings file unchanged
    SettingsWritten,   // the edited settings in place
    Indistinct,        // the earlier module already had the new bytes and nothing else changed
};
const char* phase_name(Phase phase);
inline constexpr Phase kAllPhases[] = {Phase::NothingTouched,  Phase::WritingTemporary, Phase::TemporaryWritten,
                                       Phase::ModuleGone,      Phase::ModulePlaced,     Phase::WritingSettings,
                                       Phase::SettingsWritten, Phase::Indistinct};

Phase classify(const FolderState& before, const FolderState& after, const std::string& new_module);

}  // namespace kill_test
