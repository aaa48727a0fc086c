// Reads the version record of the built executable back through the Windows
// version API the way Explorer's properties page does: the fixed version, then
// the strings of the table the record's translation names.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

// "FT232HのEEPROMを書き換える" as UTF-16, independent of the compiler's
// execution character set: a record compiled in the wrong code page shows
// something else.
constexpr std::u16string_view kDescription = u"FT232H\u306EEEPROM\u3092\u66F8\u304D\u63DB\u3048\u308B";

// The value at `path` copied into `out`, which it must fill; false when there
// is no such value.
template <typename Value>
bool Query(const std::vector<char>& record, const std::wstring& path, Value& out) {
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(record.data(), path.c_str(), &value, &length) == FALSE || value == nullptr ||
        length < sizeof out) {
        return false;
    }
    std::memcpy(&out, value, sizeof out);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const DWORD size = argc == 2 ? GetFileVersionInfoSizeA(argv[1], nullptr) : 0;
    std::vector<char> record(size);
    if (size == 0 || GetFileVersionInfoA(argv[1], 0, size, record.data()) == FALSE) {
        std::printf("FAILED: no version record in %s\n", argc == 2 ? argv[1] : "(no executable named)");
        return 1;
    }
    int failures = 0;
    const auto check = [&failures](bool passed, const char* what) {
        std::printf("%s: %s\n", passed ? "ok" : "FAILED", what);
        failures += passed ? 0 : 1;
    };
    VS_FIXEDFILEINFO fixed{};
    check(Query(record, L"\\", fixed) && fixed.dwFileVersionMS == 0x00010000 && fixed.dwFileVersionLS == 0,
          "the file version is 1.0.0.0");

    WORD translation[2] = {};
    check(Query(record, L"\\VarFileInfo\\Translation", translation) && translation[0] == 0x0411,
          "the translation is Japanese");
    wchar_t path[64];
    std::swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translation[0], translation[1]);
    void* description = nullptr;
    UINT length = 0;
    check(VerQueryValueW(record.data(), path, &description, &length) != FALSE && description != nullptr &&
              std::u16string_view(static_cast<const char16_t*>(description)) == kDescription,
          "the description, in the table that translation names, is the Japanese one");
    std::printf("%d passed, %d failed\n", 3 - failures, failures);
    return failures == 0 ? 0 : 1;
}
