// Implementation here must contain only Win32 specific code.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/console.hpp"
#include "eeprom/utf16_win32.hpp"

namespace ft232h {
namespace {

constexpr UINT kShiftJisCodePage = 932;
constexpr WORD kBrightRedOnBlack = FOREGROUND_RED | FOREGROUND_INTENSITY;

// A UTF-8 path in Shift_JIS, the bytes of everything else in a file or a
// pipe: a character that Shift_JIS lacks is '?', never a look-alike.
std::string ShiftJisOfUtf8(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const std::wstring wide = WideOfUtf16(Utf16FromUtf8(utf8, Utf16Mismatch::kReplaced).value_or(std::u16string()));
    const int unitCount = static_cast<int>(wide.size());
    const int shiftJisCount =
        WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), unitCount, nullptr, 0, "?", nullptr);
    if (shiftJisCount <= 0) {
        return {};
    }
    std::string shiftJis(static_cast<std::size_t>(shiftJisCount), '\0');
    WideCharToMultiByte(kShiftJisCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), unitCount, shiftJis.data(), shiftJisCount,
                        "?", nullptr);
    return shiftJis;
}

// Standard output as a byte stream (file, pipe, or no console at all): the
// bytes go out exactly as given, so CR LF stays CR LF.
class ByteStreamConsole final : public Console {
public:
    ByteStreamConsole() {
        // Text mode would turn each LF of "\r\n" into CR LF once more. Should
        // the switch fail, the output still reads, only with CR CR LF, which
        // is no reason to print nothing.
        static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
    }
    ByteStreamConsole(const ByteStreamConsole&) = delete;
    ByteStreamConsole& operator=(const ByteStreamConsole&) = delete;
    ~ByteStreamConsole() override { static_cast<void>(std::fflush(stdout)); }

    void WriteText(std::string_view shiftJisText) override { output_.Write(shiftJisText); }
    void WriteArgument(std::string_view bytes) override { output_.Write(bytes); }
    void WritePath(std::string_view path) override {
        shiftJisPath_ = ShiftJisOfUtf8(path);
        output_.Write(shiftJisPath_);
    }
    // A file or pipe has no colour to change.
    void BeginNotice() override {}
    void EndNotice() override {}

private:
    OutputStream output_;
    // The last path shown, in Shift_JIS.
    std::string shiftJisPath_;
};

// The Windows console: text is handed over as UTF-16, so Japanese reads
// right whatever code page the console happens to use.
class WindowsConsole final : public Console {
public:
    explicit WindowsConsole(HANDLE output) : output_(output) {}
    WindowsConsole(const WindowsConsole&) = delete;
    WindowsConsole& operator=(const WindowsConsole&) = delete;
    // The standard handle belongs to the process, not to us: closing it would
    // silence every later write.
    ~WindowsConsole() override = default;

    void WriteText(std::string_view shiftJisText) override { Write(WideOfCodePage(shiftJisText, kShiftJisCodePage)); }
    // Arguments and serial numbers reach the tool in the ANSI code page, not
    // necessarily Shift_JIS; the tool's own paths are UTF-8. A console with
    // virtual-terminal processing (Windows Terminal) would obey escape
    // sequences in either.
    void WriteArgument(std::string_view bytes) override {
        const std::string shown = ShownOnTerminal(bytes);
        // The view made here, not by the call: cppcheck 2.10 otherwise takes
        // `shown` for gone before the conversion reads it.
        Write(WideOfCodePage(std::string_view(shown), CP_ACP));
    }
    void WritePath(std::string_view path) override {
        const std::string shown = ShownOnTerminal(path);
        // Bytes that are no UTF-8 are shown as U+FFFD rather than dropped.
        const std::optional<std::u16string> units = Utf16FromUtf8(shown, Utf16Mismatch::kReplaced);
        Write(WideOfUtf16(units.value_or(std::u16string())));
    }

    void BeginNotice() override {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(output_, &info) == FALSE) {
            return;
        }
        if (SetConsoleTextAttribute(output_, kBrightRedOnBlack) == FALSE) {
            return;
        }
        savedAttributes_ = info.wAttributes;
        noticeActive_ = true;
    }

    void EndNotice() override {
        if (!noticeActive_) {
            return;
        }
        noticeActive_ = false;
        static_cast<void>(SetConsoleTextAttribute(output_, savedAttributes_));
    }

private:
    // `bytes` of `codePage` as UTF-16; empty when the system cannot convert them.
    static std::wstring WideOfCodePage(std::string_view bytes, UINT codePage) {
        if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) {
            return {};
        }
        const int byteCount = static_cast<int>(bytes.size());
        const int unitCount = MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, nullptr, 0);
        if (unitCount <= 0) {
            return {};
        }
        std::wstring text(static_cast<std::size_t>(unitCount), L'\0');
        if (MultiByteToWideChar(codePage, 0, bytes.data(), byteCount, text.data(), unitCount) != unitCount) {
            return {};
        }
        return text;
    }

    void Write(std::wstring_view text) const {
        std::wstring_view remaining(text);
        while (!remaining.empty()) {
            DWORD written = 0;
            if (WriteConsoleW(output_, remaining.data(), static_cast<DWORD>(remaining.size()), &written, nullptr) ==
                    FALSE ||
                written == 0) {
                return;
            }
            remaining.remove_prefix(written);
        }
    }

    HANDLE output_;
    WORD savedAttributes_ = 0;
    bool noticeActive_ = false;
};

}  // namespace

std::unique_ptr<Console> OpenStandardOutput() {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE || output == nullptr) {
        return std::make_unique<ByteStreamConsole>();
    }
    // GetConsoleMode succeeds on a console only; a redirected handle is a
    // file or a pipe and keeps its bytes.
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode) == FALSE) {
        return std::make_unique<ByteStreamConsole>();
    }
    return std::make_unique<WindowsConsole>(output);
}

}  // namespace ft232h
