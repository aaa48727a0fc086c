// Reads the version record of the built executable back through the Windows
// version API, the way Explorer's properties page does, and checks what a
// user is shown there.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;
// Version 1.0.0.0: major in the high word of the "MS" half.
constexpr DWORD kVersionMostSignificant = 0x00010000;
constexpr DWORD kVersionLeastSignificant = 0;
constexpr WORD kJapanese = 0x0411;
constexpr WORD kUtf16 = 1200;
// "FT232HのEEPROMを書き換える" as UTF-16 code units, independent of the
// compiler's execution character set.
constexpr std::u16string_view kDescription = u"FT232H\u306EEEPROM\u3092\u66F8\u304D\u63DB\u3048\u308B";
constexpr std::u16string_view kVersionText = u"1.0.0.0";
constexpr std::u16string_view kExecutableName = u"ft232h_eeprom.exe";

int failures = 0;

void Check(bool passed, const char* what) {
    std::printf("%s: %s\n", passed ? "ok" : "FAILED", what);
    if (!passed) {
        ++failures;
    }
}

// The string value `name` of the Japanese UTF-16 string table, read through
// the wide API so that no code page takes part.
std::u16string_view StringValue(const std::vector<char>& record, const wchar_t* name) {
    std::wstring path = L"\\StringFileInfo\\041104B0\\";
    path += name;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(record.data(), path.c_str(), &value, &length) == FALSE || value == nullptr) {
        return {};
    }
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    const auto* text = static_cast<const char16_t*>(value);
    return std::u16string_view(text);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: version_resource_check <executable>\n");
        return 2;
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
    Check(size != 0, "the executable has a version record");
    if (size == 0) {
        return 1;
    }
    std::vector<char> record(size);
    const bool read = GetFileVersionInfoA(argv[1], 0, size, record.data()) != FALSE;
    Check(read, "the version record can be read");
    if (!read) {
        return 1;
    }

    void* value = nullptr;
    UINT length = 0;
    const bool hasFixed = VerQueryValueA(record.data(), "\\", &value, &length) != FALSE && value != nullptr &&
                          length >= sizeof(VS_FIXEDFILEINFO);
    Check(hasFixed, "the record has a fixed part");
    if (hasFixed) {
        VS_FIXEDFILEINFO fixed{};
        std::memcpy(&fixed, value, sizeof fixed);
        Check(fixed.dwSignature == kFixedFileInfoSignature, "the fixed part carries its signature");
        Check(fixed.dwFileVersionMS == kVersionMostSignificant && fixed.dwFileVersionLS == kVersionLeastSignificant,
              "file version is 1.0.0.0");
        Check(
            fixed.dwProductVersionMS == kVersionMostSignificant && fixed.dwProductVersionLS == kVersionLeastSignificant,
            "product version is 1.0.0.0");
    }

    value = nullptr;
    length = 0;
    const bool hasTranslation = VerQueryValueA(record.data(), "\\VarFileInfo\\Translation", &value, &length) != FALSE &&
                                value != nullptr && length >= 2 * sizeof(WORD);
    Check(hasTranslation, "the record declares a translation");
    if (hasTranslation) {
        WORD translation[2] = {};
        std::memcpy(translation, value, sizeof translation);
        Check(translation[0] == kJapanese && translation[1] == kUtf16, "the translation is Japanese, UTF-16");
    }

    Check(StringValue(record, L"FileDescription") == kDescription, "the description is the Japanese one");
    Check(StringValue(record, L"FileVersion") == kVersionText, "the file version text is 1.0.0.0");
    Check(StringValue(record, L"ProductVersion") == kVersionText, "the product version text is 1.0.0.0");
    Check(StringValue(record, L"OriginalFilename") == kExecutableName, "the original file name is ft232h_eeprom.exe");
    Check(StringValue(record, L"ProductName") == kExecutableName, "the product name is ft232h_eeprom.exe");

    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
