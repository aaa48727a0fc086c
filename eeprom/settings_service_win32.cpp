// Implementation here must contain only Win32 specific code.
//
// The file-system calls of the settings-file service on Windows: the wide
// calls, so that a path holding any character works whatever the system's
// code page. The service's paths are UTF-8 and become UTF-16 here.
#include <windows.h>
// After <windows.h>, which it needs.
#include <aclapi.h>

#include <cstdint>
#include <optional>
#include <string>

#include "eeprom/settings_service_calls.hpp"
#include "eeprom/utf16_win32.hpp"

namespace ft232h {

namespace {

// A fresh name is tried this many times before giving up: a clash needs
// another process writing the same file at the same moment.
constexpr int kTemporaryNameAttempts = 16;
// ReadFile and WriteFile take a DWORD; a settings file never needs more at once.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Handle(FileHandle file) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a HANDLE travels as an integer through the calls
    return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

// The path in UTF-16, as the wide calls take it. A full path gets the "\\?\"
// prefix, which lifts the 260-character limit; nullopt for bytes that are no
// UTF-8 (an encoded surrogate included, as MultiByteToWideChar with
// MB_ERR_INVALID_CHARS refuses it) and for an empty path, which names no
// file.
std::optional<std::wstring> Wide(const std::string& utf8) {
    const std::optional<std::u16string> units = Utf16FromUtf8(utf8, Utf16Mismatch::kRefused);
    if (!units || units->empty()) {
        return std::nullopt;
    }
    std::wstring wide = WideOfUtf16(*units);
    if (wide.starts_with(LR"(\\?\)")) {
        return wide;
    }
    if (wide.starts_with(LR"(\\)")) {
        return LR"(\\?\UNC\)" + wide.substr(2);
    }
    if (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') {
        return LR"(\\?\)" + wide;
    }
    return wide;
}

// nullopt for an unpaired surrogate, which no UTF-8 holds, and for an empty
// name.
std::optional<std::string> Utf8(std::wstring_view wide) {
    if (wide.empty()) {
        return std::nullopt;
    }
    return Utf8FromUtf16(Utf16OfWide(wide), Utf16Mismatch::kRefused);
}

bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The path by which the system itself knows the open file, links followed.
std::optional<std::string> FinalPath(HANDLE file) {
    std::wstring final(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < final.size()) {
            final.resize(length);
            return Utf8(final);
        }
        final.resize(length);
    }
    return std::nullopt;
}

bool Resolve(const std::string& path, std::string& target) {
    target = path;
    const std::optional<std::wstring> wide = Wide(path);
    if (!wide) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wide->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    // A symbolic link: the file it leads to is the one replaced, in its own
    // folder, and the link stays; one that leads nowhere is not followed.
    // Wine shows a Unix link as the file it leads to, so every file is
    // asked for its final path.
    const HANDLE file =
        CreateFileW(wide->c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (file == INVALID_HANDLE_VALUE) {
        return !link;
    }
    const std::optional<std::string> final = FinalPath(file);
    CloseHandle(file);
    if (final) {
        target = *final;
    }
    return final.has_value() || !link;
}

FileOpened Open(const std::string& path, FileAccess access, FileHandle& file) {
    const std::optional<std::wstring> wide = Wide(path);
    if (!wide) {
        return FileOpened::kFailed;
    }
    const DWORD rights = access == FileAccess::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const HANDLE handle =
        CreateFileW(wide->c_str(), rights, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return IsMissing(GetLastError()) ? FileOpened::kMissing : FileOpened::kFailed;
    }
    file = FromHandle(handle);
    return FileOpened::kOpened;
}

bool Describe(FileHandle file, FileFacts& facts) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(Handle(file), &information) == FALSE) {
        return false;
    }
    facts.regular =
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileType(Handle(file)) == FILE_TYPE_DISK;
    facts.readOnly = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    facts.size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    facts.links = information.nNumberOfLinks;
    return true;
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

std::ptrdiff_t ReadAt(FileHandle file, std::uint64_t offset, char* buffer, std::size_t size) {
    OVERLAPPED position = At(offset);
    DWORD count = 0;
    if (ReadFile(Handle(file), buffer, static_cast<DWORD>(size < kLargestTransfer ? size : kLargestTransfer), &count,
                 &position) == FALSE) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t WriteAt(FileHandle file, std::uint64_t offset, const char* bytes, std::size_t size) {
    OVERLAPPED position = At(offset);
    DWORD count = 0;
    if (WriteFile(Handle(file), bytes, static_cast<DWORD>(size < kLargestTransfer ? size : kLargestTransfer), &count,
                  &position) == FALSE) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(count);
}

bool Resize(FileHandle file, std::uint64_t size) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return SetFileInformationByHandle(Handle(file), FileEndOfFileInfo, &end, sizeof end) != FALSE;
}

FileCreated CreateBeside(const std::string& target, std::string& created, FileHandle& file) {
    LARGE_INTEGER clock{};
    QueryPerformanceCounter(&clock);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        created = TemporaryNameBeside(target, (std::uint64_t{GetCurrentProcessId()} << 32) ^
                                                  static_cast<std::uint64_t>(clock.QuadPart) ^
                                                  static_cast<std::uint64_t>(attempt));
        const std::optional<std::wstring> wide = Wide(created);
        if (!wide) {
            return FileCreated::kFailed;
        }
        // WRITE_DAC, which the owner of a file always has, to give it the
        // old file's permissions.
        const HANDLE handle = CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file = FromHandle(handle);
            return FileCreated::kCreated;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            return FileCreated::kNotPermitted;
        }
        if (error != ERROR_FILE_EXISTS) {
            return FileCreated::kFailed;
        }
    }
    return FileCreated::kFailed;
}

// The attributes that describe a file rather than its state.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Frees what GetSecurityInfo allocated.
struct LocalMemory {
    LocalMemory() = default;
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() { LocalFree(memory); }
    PSECURITY_DESCRIPTOR memory = nullptr;
};

// What ReplaceFileW would carry over: the attributes, the creation time and
// the permissions (the DACL, protected from inheritance or not, as the old
// file's). A file owned by someone else is not given away, which takes a
// privilege: it is rewritten in place instead, as on POSIX.
IdentityKept KeepIdentity(FileHandle created, FileHandle original) {
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(Handle(original), FileBasicInfo, &basic, sizeof basic) == FALSE) {
        return IdentityKept::kFailed;
    }
    FILE_BASIC_INFO kept{};
    kept.CreationTime = basic.CreationTime;
    kept.FileAttributes = basic.FileAttributes & kKeptAttributes;
    if (SetFileInformationByHandle(Handle(created), FileBasicInfo, &kept, sizeof kept) == FALSE) {
        return IdentityKept::kFailed;
    }
    PSID owner = nullptr;
    PACL permissions = nullptr;
    LocalMemory old;
    if (GetSecurityInfo(Handle(original), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &permissions, nullptr, &old.memory) != ERROR_SUCCESS) {
        return IdentityKept::kFailed;
    }
    PSID newOwner = nullptr;
    LocalMemory fresh;
    if (GetSecurityInfo(Handle(created), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &newOwner, nullptr, nullptr,
                        nullptr, &fresh.memory) != ERROR_SUCCESS) {
        return IdentityKept::kFailed;
    }
    if (owner != nullptr && newOwner != nullptr && EqualSid(owner, newOwner) == FALSE) {
        return IdentityKept::kNotPermitted;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (permissions == nullptr || GetSecurityDescriptorControl(old.memory, &control, &revision) == FALSE) {
        return IdentityKept::kKept;
    }
    // The old file's own entries; inherited ones come from the same folder.
    const SECURITY_INFORMATION which =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return SetSecurityInfo(Handle(created), SE_FILE_OBJECT, which, nullptr, nullptr, permissions, nullptr) ==
                   ERROR_SUCCESS
               ? IdentityKept::kKept
               : IdentityKept::kFailed;
}

bool Flush(FileHandle file) {
    return FlushFileBuffers(Handle(file)) != FALSE;
}

bool Close(FileHandle file) {
    return CloseHandle(Handle(file)) != FALSE;
}

// One rename that replaces the old name, on the disk before the call
// returns. ReplaceFileW would keep the attributes and permissions itself,
// but it is no single step: Wine's leaves no file under the name when
// killed part-way, and Windows documents a failure that leaves the old file
// under another name.
bool Replace(const std::string& from, const std::string& to) {
    const std::optional<std::wstring> source = Wide(from);
    const std::optional<std::wstring> destination = Wide(to);
    return source && destination &&
           MoveFileExW(source->c_str(), destination->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
}

// MOVEFILE_WRITE_THROUGH has made the rename durable already; flushing the
// file now under the name asks NTFS once more to write its log up to the
// file's last change, the rename included.
bool SyncName(const std::string& path) {
    const std::optional<std::wstring> wide = Wide(path);
    if (!wide) {
        return false;
    }
    const HANDLE handle =
        CreateFileW(wide->c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = FlushFileBuffers(handle) != FALSE;
    return CloseHandle(handle) != FALSE && flushed;
}

bool Remove(const std::string& path) {
    const std::optional<std::wstring> wide = Wide(path);
    return wide && DeleteFileW(wide->c_str()) != FALSE;
}

constexpr SettingsFileCalls kSystemCalls{
    Resolve,      Open,  Describe, ReadAt,  WriteAt,  Resize, CreateBeside,
    KeepIdentity, Flush, Close,    Replace, SyncName, Remove,
};

}  // namespace

const SettingsFileCalls& SystemSettingsFileCalls() {
    return kSystemCalls;
}

}  // namespace ft232h
