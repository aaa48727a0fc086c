// Standard output as the POSIX console service shows it, read back from the
// far end of a pipe and of a pseudo-terminal.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#if __has_include(<pty.h>)
#include <pty.h>
#else
#include <util.h>
#endif

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

#include "app/console.hpp"

namespace ft232h {
namespace {

using Writer = std::function<void(Console&)>;

// Message text as the tool hands it over: Shift_JIS bytes, spelt out so that
// the test does not depend on the compiler's execution character set.
// "FT232H が 1 個見つかりました\r\n"
constexpr std::string_view kFoundShiftJis =
    "FT232H \x82\xaa 1 \x8c\xc2\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb5\x82\xbd\r\n";
// "NO.0 の FT232H を一度抜き差しして下さい\r\n"
constexpr std::string_view kNoticeShiftJis =
    "NO.0 \x82\xcc FT232H \x82\xf0\x88\xea\x93\x78\x94\xb2\x82\xab\x8d\xb7\x82\xb5\x82\xb5\x82\xc4\x89\xba\x82"
    "\xb3\x82\xa2\r\n";

std::string Utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

const std::string kFoundUtf8 = Utf8(u8"FT232H \u304C 1 \u500B\u898B\u3064\u304B\u308A\u307E\u3057\u305F\r\n");
const std::string kNoticeUtf8 =
    Utf8(u8"NO.0 \u306E FT232H \u3092\u4E00\u5EA6\u629C\u304D\u5DEE\u3057\u3057\u3066\u4E0B\u3055\u3044\r\n");

void WriteNotice(Console& console) {
    console.BeginNotice();
    console.WriteText(kNoticeShiftJis);
    console.EndNotice();
}

// Runs `write` in a child whose standard output is `output`, in the locale
// `locale`, and ends the child without running the test's own exit code.
[[noreturn]] void RunChild(const char* locale, const Writer& write) {
    if (locale != nullptr) {
        setenv("LC_ALL", locale, 1);
    }
    const auto console = OpenStandardOutput();
    write(*console);
    _exit(0);
}

std::string ReadAll(int descriptor) {
    std::string bytes;
    char buffer[512];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        // A pseudo-terminal reports EIO once the child has closed its side.
        if (count <= 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

bool ChildEndedCleanly(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ThroughPipe(const char* locale, const Writer& write) {
    int ends[2];
    if (pipe(ends) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        RunChild(locale, write);
    }
    close(ends[1]);
    std::string bytes = ReadAll(ends[0]);
    close(ends[0]);
    EXPECT_TRUE(ChildEndedCleanly(child));
    return bytes;
}

std::string ThroughTerminal(const char* locale, const Writer& write) {
    // Raw mode: the terminal driver must not add CR before LF, so the bytes
    // read are the bytes written.
    termios raw{};
    cfmakeraw(&raw);
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, &raw, nullptr);
    if (child < 0) {
        ADD_FAILURE() << "forkpty failed";
        return {};
    }
    if (child == 0) {
        RunChild(locale, write);
    }
    std::string bytes = ReadAll(master);
    close(master);
    EXPECT_TRUE(ChildEndedCleanly(child));
    return bytes;
}

TEST(ConsolePosix, PipedOutputIsTheShiftJisBytesExactly) {
    const auto write = [](Console& console) {
        console.WriteText(kFoundShiftJis);
        console.WriteArgument("SN\x1b]0;x\x07");
        WriteNotice(console);
    };
    EXPECT_EQ(ThroughPipe("C.UTF-8", write),
              std::string(kFoundShiftJis) + "SN\x1b]0;x\x07" + std::string(kNoticeShiftJis));
}

TEST(ConsolePosix, TerminalWithUtf8LocaleShowsTheTextAsUtf8) {
    const auto write = [](Console& console) { console.WriteText(kFoundShiftJis); };
    EXPECT_EQ(ThroughTerminal("C.UTF-8", write), kFoundUtf8);
}

TEST(ConsolePosix, NoticeIsBrightRedOnTerminalOnly) {
    EXPECT_EQ(ThroughTerminal("C.UTF-8", WriteNotice), "\x1b[91m" + kNoticeUtf8 + "\x1b[0m");
    EXPECT_EQ(ThroughPipe("C.UTF-8", WriteNotice), std::string(kNoticeShiftJis));
}

TEST(ConsolePosix, TerminalShowsControlBytesOfArgumentsAsQuestionMarks) {
    const auto write = [](Console& console) {
        console.WriteArgument(
            "AB\x1b[2J\x7f\x01"
            "CD\xe3\x81\xae");
    };
    EXPECT_EQ(ThroughTerminal("C.UTF-8", write), "AB?[2J??CD\xe3\x81\xae");
}

TEST(ConsolePosix, TerminalShowsBrokenShiftJisAsQuestionMarkAndGoesOn) {
    // A lead byte with no trail byte must not take the line end with it.
    const auto write = [](Console& console) { console.WriteText("A\x82\r\nB"); };
    EXPECT_EQ(ThroughTerminal("C.UTF-8", write), "A?\r\nB");
}

TEST(ConsolePosix, TerminalWithShiftJisLocaleGetsTheBytesUnchanged) {
    // Named but not necessarily installed: the set is then read from the name.
    const auto write = [](Console& console) { console.WriteText(kFoundShiftJis); };
    EXPECT_EQ(ThroughTerminal("ja_JP.SJIS", write), std::string(kFoundShiftJis));
}

TEST(ConsolePosix, LeavesTheProcessLocaleAsItWas) {
    const auto write = [](Console& console) {
        const char* locale = std::setlocale(LC_CTYPE, nullptr);
        console.WriteArgument(locale != nullptr ? locale : "(null)");
    };
    EXPECT_EQ(ThroughTerminal("C.UTF-8", write), "C");
}

}  // namespace
}  // namespace ft232h
