// Implementation here must contain only POSIX specific code.
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "app/console.hpp"

namespace ft232h {
namespace {

// A file or a pipe: exact bytes (Shift_JIS, CR LF) and no escape sequences,
// so that the output can be compared and processed.
class ByteStreamConsole final : public Console {
public:
    void WriteText(std::string_view shiftJisText) override { output_.Write(shiftJisText); }
    void WriteArgument(std::string_view bytes) override { output_.Write(bytes); }
    void BeginNotice() override {}
    void EndNotice() override {}

private:
    OutputStream output_;
};

iconv_t NoConverter() {
    // iconv_open's own failure value, (iconv_t)-1: an integer made a pointer.
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast,performance-no-int-to-ptr)
    return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));
}

// The length of the Shift_JIS character that starts `text`: a lead byte takes
// the next byte with it only when that byte can follow one, so a stray lead
// byte never swallows the line end behind it.
std::size_t ShiftJisCharacterLength(std::string_view text) {
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(0);
    const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    if (!isLead || text.size() < 2) {
        return 1;
    }
    const unsigned char trail = byte(1);
    const bool isTrail = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
    return isTrail ? 2 : 1;
}

// A terminal: the tool's Shift_JIS text is shown in the terminal's own
// character set, and the notice in bright red.
class TerminalConsole final : public Console {
public:
    // `converter` is NoConverter() when the text goes out as it is.
    explicit TerminalConsole(iconv_t converter) : converter_(converter) {}
    TerminalConsole(const TerminalConsole&) = delete;
    TerminalConsole& operator=(const TerminalConsole&) = delete;
    ~TerminalConsole() override {
        if (converter_ != NoConverter()) {
            static_cast<void>(iconv_close(converter_));
        }
    }

    void WriteText(std::string_view shiftJisText) override {
        if (converter_ == NoConverter()) {
            output_.Write(shiftJisText);
        } else {
            WriteConverted(shiftJisText);
        }
    }

    void WriteArgument(std::string_view bytes) override { output_.Write(ShownOnTerminal(bytes)); }

    void BeginNotice() override { output_.Write("\x1b[91m"); }
    void EndNotice() override { output_.Write("\x1b[0m"); }

private:
    void WriteConverted(std::string_view shiftJisText) {
        std::string input(shiftJisText);
        char* in = input.data();
        std::size_t inLeft = input.size();
        std::array<char, 256> converted{};
        while (inLeft > 0) {
            char* out = converted.data();
            std::size_t outLeft = converted.size();
            const std::size_t result = iconv(converter_, &in, &inLeft, &out, &outLeft);
            const int error = errno;
            output_.Write(std::string_view(converted.data(), converted.size() - outLeft));
            if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
                continue;
            }
            // A byte sequence that is not Shift_JIS, or a character the
            // terminal's set lacks: one '?' for it and on with the rest.
            const std::size_t skipped = ShiftJisCharacterLength(std::string_view(in, inLeft));
            in += skipped;
            inLeft -= skipped;
            output_.Write("?");
            static_cast<void>(iconv(converter_, nullptr, nullptr, nullptr, nullptr));
        }
        // Stateful sets (ISO-2022-JP) return to their initial state, so each
        // piece of text stands on its own.
        char* out = converted.data();
        std::size_t outLeft = converted.size();
        if (iconv(converter_, nullptr, nullptr, &out, &outLeft) != static_cast<std::size_t>(-1)) {
            output_.Write(std::string_view(converted.data(), converted.size() - outLeft));
        }
    }

    iconv_t converter_;
    OutputStream output_;
};

// The set named in a locale name such as "ja_JP.UTF-8@modifier". A locale
// that is named but not installed (common in containers) still tells what
// the terminal expects.
std::string CodesetOfLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        const std::string_view name(value);
        const std::size_t dot = name.find('.');
        if (dot == std::string_view::npos) {
            return {};
        }
        return std::string(name.substr(dot + 1, name.find('@', dot) - (dot + 1)));
    }
    return {};
}

// The character set of the user's locale, read without leaving the process
// in that locale: the rest of the tool compares bytes and must not change
// its behaviour with the user's settings.
std::string UserCodeset() {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    if (std::setlocale(LC_CTYPE, "") == nullptr) {
        return CodesetOfLocaleName();
    }
    const char* codeset = nl_langinfo(CODESET);
    std::string result = codeset != nullptr ? codeset : "";
    static_cast<void>(std::setlocale(LC_CTYPE, saved.c_str()));
    return result;
}

bool IsShiftJis(const std::string& codeset) {
    for (const char* name : {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "CP932", "WINDOWS-31J"}) {
        if (strcasecmp(codeset.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<Console> OpenStandardOutput() {
    // A reader that goes away (`| head -1`) must not kill the run with
    // SIGPIPE half-way through a command: the command still completes, what
    // cannot be written is lost, and the exit status stays 0.
    static_cast<void>(std::signal(SIGPIPE, SIG_IGN));
    if (isatty(STDOUT_FILENO) == 0) {
        return std::make_unique<ByteStreamConsole>();
    }
    const std::string codeset = UserCodeset();
    if (codeset.empty() || IsShiftJis(codeset)) {
        return std::make_unique<TerminalConsole>(NoConverter());
    }
    // Without a converter the text still arrives, if not legibly.
    return std::make_unique<TerminalConsole>(iconv_open(codeset.c_str(), "CP932"));
}

}  // namespace ft232h
