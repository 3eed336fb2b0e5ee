// The file operations placement and the settings update are built from. Each failure carries
// only the reason ("{message} (os error {code})"); callers put the path in front of it.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"
#include "win32_handles.h"

// Creates the folder and every missing parent; succeeds when it already exists.
Status create_folder(const std::wstring& path);
// A file written afresh under a temporary name and held open until it is placed or discarded.
// It is opened without write or delete sharing: from its creation to its move nobody else can
// write, rename or delete it, and it is moved through the handle that wrote it, so nothing can
// be put in its place in between. A second writer of the same name fails with a sharing
// violation instead of taking the file over.
class TemporaryFile {
public:
    // Whatever stands at `path` is removed first (a link as the link itself, never what it
    // points to; an empty folder as a folder), then the file is created new and every byte
    // written straight from `data`. On failure a partly written file stays.
    static Result<TemporaryFile> write(const std::wstring& path, const void* data, size_t size);

    TemporaryFile(TemporaryFile&&) noexcept = default;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    // A file that was never placed goes with it: whichever way a caller fails, no temporary
    // file is left behind.
    ~TemporaryFile() { discard(); }

    // Moves the file to `to` in the same folder, replacing a file that is there.
    Status place(const std::wstring& to);
    // Deletes the file through its handle; a failure is ignored. It is closed either way.
    void discard();

private:
    explicit TemporaryFile(UniqueFileHandle file) : file_(std::move(file)) {}
    UniqueFileHandle file_;
};

// True when the file's attributes can be read (links followed); any failure means no.
bool file_exists(const std::wstring& path);
// What stands at `path` by its attributes; a link counts as what it is marked as, unfollowed.
// Missing when the attributes cannot be read, whatever the reason.
enum class FileKind { Missing, File, Folder };
FileKind file_kind(const std::wstring& path);
// What stands at `path`, told apart from what could not be seen. Missing only when the system
// reports the name, or a folder on its way, as not found below a folder that it could read; any
// other failure to look (an unreachable server or share, a missing drive, refused access, a
// device not ready) is a failure with the system's reason.
Result<FileKind> seen_file_kind(const std::wstring& path);
// Deletes the file; a read-only attribute does not stop it.
Status delete_file(const std::wstring& path);
// Renames or moves the file, replacing one that is already at `to`.
Status move_file(const std::wstring& from, const std::wstring& to);

// The path made absolute and normalised ("." and ".." resolved) by the system; nullopt when it
// cannot be.
std::optional<std::wstring> full_path(const std::wstring& path);

// Names of the folder's entries without "." and "..". A listing that stops part way holds what
// was read before.
Result<std::vector<std::wstring>> list_folder(const std::wstring& path);
