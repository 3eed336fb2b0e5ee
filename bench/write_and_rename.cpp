// The floor the quiet install is measured against: a plain Win32 program that only writes the
// same number of bytes to a temporary file in the folder and renames it into place.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring folder = argv[1];
    const size_t size = static_cast<size_t>(_wtoi64(argv[2]));
    std::vector<char> bytes(size, 'x');
    const std::wstring temporary = folder + L"\\floor.bin.new";
    const std::wstring target = folder + L"\\floor.bin";
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != size) return 1;
    return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
