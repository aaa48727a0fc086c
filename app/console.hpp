// Standard output as the tool uses it. One implementation per platform.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ft232h {

// Every byte the tool shows goes to standard output through this. When
// standard output is a file or a pipe, bytes are written exactly as given
// (Shift_JIS text, CR LF). When it is a terminal that does not use Shift_JIS,
// the tool's own text is converted so that it reads correctly there.
class Console {
public:
    Console() = default;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    virtual ~Console() = default;

    // The tool's own message text, in Shift_JIS.
    virtual void WriteText(std::string_view shiftJisText) = 0;
    // Bytes that come from outside (typed arguments, serial numbers, values
    // of a file): already in the user's own character set, so never
    // converted.
    virtual void WriteArgument(std::string_view bytes) = 0;
    // A path the tool built from its own directory. On Windows it is UTF-8
    // and is shown as the real name on a console, and in Shift_JIS in a
    // file or a pipe, a character that Shift_JIS lacks as '?'. Elsewhere it
    // is the system's own bytes, shown as an argument is.
    virtual void WritePath(std::string_view path) { WriteArgument(path); }
    // Bright red from here until EndNotice, where the console can show it;
    // EndNotice puts back what was there before.
    virtual void BeginNotice() = 0;
    virtual void EndNotice() = 0;
};

std::unique_ptr<Console> OpenStandardOutput();

// Bytes from outside as a terminal (a POSIX terminal or the Windows console)
// is given them: each control byte (below 0x20, and 0x7F) becomes '?', so that
// a serial number or a path cannot send the terminal escape sequences. No
// multibyte character of Shift_JIS, UTF-8 or a Windows ANSI code page holds
// such a byte, so every other character passes unchanged. A file or a pipe
// gets the bytes as they are.
std::string ShownOnTerminal(std::string_view bytes);

// Standard output as a stream of bytes, for the platforms' consoles: Write
// puts `bytes` out as they are and flushes them at once, so that what was
// shown survives whatever the library does next. After one failed write (a
// closed pipe, a full disk) nothing more is tried: there is nowhere left to
// report it, and later lines would only come out torn.
class OutputStream {
public:
    void Write(std::string_view bytes);

private:
    bool failed_ = false;
};

}  // namespace ft232h
