// The POSIX platform services where no run of the tool reaches: the console
// behind a pseudo-terminal and in odd locales, standard output after a failed
// flush, the executable's directory under a long path, and the library found
// through the loader's own search.
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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "app/console.hpp"
#include "d2xx/d2xx_api.hpp"
#include "d2xx/shared_library.hpp"
#include "tests/settings/temporary_directory.hpp"

namespace ft232h {
namespace {

// "FT232H が 1 個見つかりました\r\n" as the tool hands it over, and as a UTF-8
// terminal must show it; spelt out so that the compiler's execution character
// set takes no part.
constexpr std::string_view kShiftJis =
    "FT232H \x82\xaa 1 \x8c\xc2\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb5\x82\xbd\r\n";
constexpr std::string_view kUtf8 =
    "FT232H \xe3\x81\x8c 1 \xe5\x80\x8b\xe8\xa6\x8b\xe3\x81\xa4\xe3\x81\x8b\xe3\x82\x8a\xe3\x81\xbe\xe3\x81\x97\xe3"
    "\x81\x9f\r\n";
// What follows the text in every case: an argument with control bytes, a
// notice holding a byte that starts no character (the letter after it is
// kept) and a lead byte without its trail byte, and the process locale after
// all that, which must still be the one the tool started in.
constexpr std::string_view kArgument = "SN\x1b[2J\x7f\xe3\x81\xae";
constexpr std::string_view kBroken = "A\x80Z\x82\r\n";

void WriteEverything(Console& console) {
    console.WriteText(kShiftJis);
    console.WriteArgument(kArgument);
    console.BeginNotice();
    console.WriteText(kBroken);
    console.EndNotice();
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    console.WriteArgument(locale != nullptr ? locale : "(null)");
}

std::string ReadAll(int descriptor) {
    std::string bytes;
    char buffer[512];
    ssize_t count = 0;
    // A pseudo-terminal reports EIO once the child has closed its side.
    while ((count = read(descriptor, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

// What a child that runs `body` writes with standard output on a pipe or, in
// raw mode so that the bytes read are the bytes written, on a
// pseudo-terminal; the child must end with status 0. Its alarm, which an exec
// keeps, ends a child that a fault sends into a loop rather than letting it
// outlive its test.
std::string OutputOfChild(bool terminal, const std::function<void()>& body) {
    constexpr unsigned kDeadlineSeconds = 120;
    int ends[2] = {-1, -1};
    termios raw{};
    cfmakeraw(&raw);
    std::fflush(stdout);
    const pid_t child = terminal ? forkpty(&ends[0], nullptr, &raw, nullptr) : (pipe(ends) == 0 ? fork() : -1);
    if (child == 0) {
        alarm(kDeadlineSeconds);
        if (!terminal) {
            dup2(ends[1], STDOUT_FILENO);
        }
        body();
        // Ends as a program does, so that a coverage build writes the
        // child's counts too: they are the console's whole share.
        std::exit(0);
    }
    if (!terminal) {
        close(ends[1]);
    }
    std::string bytes = child > 0 ? ReadAll(ends[0]) : "(no child)";
    close(ends[0]);
    int status = -1;
    EXPECT_TRUE(child > 0 && waitpid(child, &status, 0) == child && status == 0);
    return bytes;
}

std::string OutputOf(const char* locale, bool terminal) {
    return OutputOfChild(terminal, [&] {
        setenv("LC_ALL", locale, 1);
        WriteEverything(*OpenStandardOutput());
    });
}

TEST(ConsolePosix, ShowsTheTextAsTheTerminalExpectsAndPipesTheBytesAsTheyAre) {
    const std::string asBytes = std::string(kShiftJis) + std::string(kArgument) + std::string(kBroken) + "C";
    const std::string asUtf8 = std::string(kUtf8) + "SN?[2J?\xe3\x81\xae" + "\x1b[91m" + "A?Z?\r\n" + "\x1b[0m" + "C";
    const std::string asShiftJis =
        std::string(kShiftJis) + "SN?[2J?\xe3\x81\xae" + "\x1b[91m" + std::string(kBroken) + "\x1b[0m" + "C";
    struct Case {
        const char* locale;
        bool terminal;
        std::string expected;
    };
    const Case cases[] = {
        {"C.UTF-8", false, asBytes},
        {"C.UTF-8", true, asUtf8},
        // Named but installed nowhere, as ja_JP.UTF-8 often is in a
        // container: the set is read from the name.
        {"xx_XX.UTF-8@ft232h", true, asUtf8},
        {"ja_JP.SJIS", true, asShiftJis},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + (c.terminal ? " terminal" : " pipe"));
        EXPECT_EQ(OutputOf(c.locale, c.terminal), c.expected);
    }
}

// A flush that fails (standard output on a full device) ends the output for
// good: once standard output could take bytes again, nothing more arrives.
TEST(OutputStream, WritesNothingMoreOnceAFlushHasFailed) {
    const std::string bytes = OutputOfChild(false, [] {
        const int thePipe = dup(STDOUT_FILENO);
        dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        OutputStream output;
        output.Write("lost");
        dup2(thePipe, STDOUT_FILENO);
        output.Write("after the failure");
    });
    EXPECT_EQ(bytes, "");
}

TEST(ExecutablePath, IsFoundWholeHoweverLongTheDirectory) {
    // 256 bytes fill the service's first buffer exactly; 600 fill it and the
    // next one.
    for (const std::size_t length : {std::size_t{256}, std::size_t{600}}) {
        const testing::TemporaryDirectory temporary;
        std::filesystem::path directory = temporary.Path();
        while (length - directory.string().size() - 1 > 255) {
            directory /= std::string(200, 'd');
        }
        std::filesystem::create_directories(directory);
        const std::filesystem::path program = directory / std::string(length - directory.string().size() - 1, 'p');
        std::filesystem::copy_file(FT232H_PRINT_EXECUTABLE_DIRECTORY, program);
        ASSERT_EQ(program.string().size(), length);
        const std::string bytes = OutputOfChild(false, [&] {
            execl(program.c_str(), program.c_str(), nullptr);
            _exit(127);
        });
        EXPECT_EQ(bytes, directory.string() + "/");
    }
}

TEST(SharedLibraryPosix, TakesTheCopyBesideTheToolFirstThenTheLoadersSearch) {
    // Each copy of the simulated library lists as many devices as its own
    // world says: 42 beside the tool, 43 on the loader's search path.
    struct Case {
        const char* directory;
        std::uint32_t count;
    };
    for (const Case& c : {Case{FT232H_SIM_BESIDE, 42}, Case{"/nonexistent/", 43}, Case{"", 43}}) {
        SCOPED_TRACE(c.directory);
        const auto library = LoadD2xxLibrary(c.directory);
        ASSERT_NE(library, nullptr);
        const auto create =
            reinterpret_cast<FtCreateDeviceInfoListFunction>(library->FindSymbol("FT_CreateDeviceInfoList"));
        ASSERT_NE(create, nullptr);
        std::uint32_t count = 0;
        EXPECT_EQ(create(&count), kFtOk);
        EXPECT_EQ(count, c.count);
    }
}

}  // namespace
}  // namespace ft232h
