// Runs one row of an end-to-end table (tests/e2e/*.rows) against the built
// tool: e2e_row ROW FILE... (a block of any file may be used in another). A
// row is a script, one directive a line:
//
//   row NAME [native]     starts a row; native: not run under Wine
//   define NAME [P...]    starts a block of lines that `use NAME` inserts
//   use NAME [ARG...]     the lines of that block, here, each ARG in the
//                         place of its parameter P written as {P}
//   SYSTEM: LINE          LINE where the tool is built for SYSTEM (linux,
//                         macos, windows) and nothing elsewhere, as in
//                         "linux: out TEXT" for a line only Linux prints
//   library legacy|none   the old simulated library without the FT_EEPROM_*
//                         calls, or no library at all (default: the simulator)
//   place workdir|path    the library only in the tool's working directory,
//                         or only in a directory on the program search path
//                         (PATH, under Wine the Windows PATH), not beside the
//                         tool; the simulator's world goes with it
//   state LINE            a line of the simulator's world before the first run
//   file NAME TEXT        appends TEXT and CR LF to a file beside the tool
//   raw NAME TEXT         appends TEXT alone
//   utf16 NAME le|be      the file's text, UTF-8 so far, becomes UTF-16 in
//                         that byte order behind its mark, as PowerShell and
//                         Notepad write it
//   dir NAME, link NAME TARGET, mode NAME OCTAL, copy FROM TO (replacing TO)
//   hardlink NAME TARGET  another name for the file TARGET
//   owner NAME USER       gives the file to USER and USER's group (root only)
//   notes NAME COUNT      appends COUNT lines of a user's notes to a file
//   full                  the tool's directory is a small file system of its
//                         own (a tmpfs mounted for the row, root only), here
//                         filled but for 64 KiB
//   folder NAME           the tool lies in a folder of that name (any
//                         script: 한국, ソフト表示), for the whole row
//   lang LANG             LC_ALL of every run of the row (over LANG); Wine
//                         takes the system's code page from it (ja_JP.UTF-8:
//                         932, C.UTF-8: a Western one)
//   run [ARG...]          runs the tool; "" is an empty argument
//   closed [ARG...]       runs it with nobody reading its output
//   terminal [ARG...]     runs it on a pseudo-terminal (under Wine: Wine's
//                         console), which takes the place of `out`:
//   shows TEXT            bytes the terminal must have received (as written:
//                         the terminal's own set, the console's escapes too)
//   out TEXT              a line the last run must print, in this order
//   calls [CALL...]       what the last run called on devices, Name@device
//   after DEVICE LINE     a line of that device that differs after the row
//   expect NAME TEXT      a line the file NAME must hold after the row
//   alike NAME OTHER      the two settings files hold the same keys with the
//                         same values, quotes aside, here
//   nofile NAME           the file must not exist, here
//   expmode NAME OCTAL    its permission bits, here
//   expowner NAME USER    its owner and group are USER's, here
//   same NAME OTHER       the two files hold the same bytes after the row
//
// Rows for FTDI's own library on virtual chips (tests/emu) use no simulator:
//
//   chip SPEC IMAGE       plugs in a chip, SPEC as ft232h_emu takes it less
//                         the image (type=ft232h,fault=in-use); IMAGE is a
//                         fresh chip's serial number, blank or none
//   poke CHIP AT HH...    bytes of that chip's image from offset AT (hex),
//                         its checksum made right again
//   edit NAME KEY TEXT    the line of KEY in file NAME becomes KEY="TEXT"
//   agrees NAME CHIP N    N keys of file NAME are fields libftdi decodes from
//                         the chip, each with the chip's value
//   image CHIP KEY TEXT   a field libftdi decodes that differs after the row
//                         (? stands for any character); none: the same bytes
//   image CHIP blank      the chip is left erased
//   cut CHIP WORDS OTHER  the chip holds the first WORDS words of chip
//                         OTHER's image after the row, and is erased from
//                         there on
//   sent COUNT TEXT       COUNT of the requests of the last run that reached
//                         the chips (ft232h_emu's log) hold TEXT
//   roundtrip SEED SHARD SHARDS FILES
//                         generated settings files through -w and a replug
//                         on chip 0 (tests/emu/round_trip.cpp), the files
//                         SHARD, SHARD + SHARDS, ... below FILES of SEED
//
// TEXT may hold \r \n \t \\ and \xHH; out and expect convert their text from
// UTF-8 to Shift_JIS first (escaped bytes stay as written) and replace {dir}
// by the tool's directory as the tool prints it (the Windows build: in
// Shift_JIS, '?' for a character it lacks).
#include <iconv.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_state.hpp"
#include "tests/e2e/chip_world.hpp"
#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

int failures = 0;

// Room left on a full disk: the simulator's log still fits, a settings
// file's new copy does not.
constexpr std::size_t kRoomOnAFullDisk = std::size_t{64} << 10;

void Fail(const std::string& what) {
    std::cerr << "FAILED: " << what << "\n";
    ++failures;
}

// Shown byte for byte, with what is not printable ASCII escaped.
std::string Shown(const std::string& bytes) {
    std::string shown;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\n') {
            shown += "\\n\n";
        } else if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return shown;
}

void ExpectEqual(const std::string& what, const std::string& actual, const std::string& expected) {
    if (actual != expected) {
        Fail(what + "\n--- expected:\n" + Shown(expected) + "\n--- actual:\n" + Shown(actual));
    }
}

// `text` converted by iconv from one character set to another, whole.
std::string Converted(const std::string& text, const char* to, const char* from) {
    iconv_t converter = iconv_open(to, from);
    std::string in = text;
    std::string out(in.size() * 4 + 4, '\0');
    char* source = in.data();
    char* target = out.data();
    std::size_t left = in.size();
    std::size_t room = out.size();
    if (converter == reinterpret_cast<iconv_t>(-1) || iconv(converter, &source, &left, &target, &room) != 0) {
        throw std::runtime_error(std::string("no ") + to + " form: " + text);
    }
    iconv_close(converter);
    out.resize(out.size() - room);
    return out;
}

std::string ToShiftJis(const std::string& utf8) {
    return Converted(utf8, "CP932", "UTF-8");
}

// UTF-8 as UTF-16 of the byte order named, behind its mark.
std::string ToUtf16(const std::string& utf8, const std::string& order) {
    if (order != "le" && order != "be") {
        throw std::runtime_error("no byte order " + order);
    }
    const bool little = order == "le";
    return std::string(little ? "\xFF\xFE" : "\xFE\xFF") + Converted(utf8, little ? "UTF-16LE" : "UTF-16BE", "UTF-8");
}

// As the Windows build shows a path: '?' for a character Shift_JIS lacks.
std::string ToShiftJisOrQuestionMark(const std::string& utf8) {
    std::string shiftJis;
    for (std::size_t at = 0, length = 1; at < utf8.size(); at += length) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        try {
            shiftJis += ToShiftJis(utf8.substr(at, length));
        } catch (const std::runtime_error&) {
            shiftJis += '?';
        }
    }
    return shiftJis;
}

// The escapes; with `convert`, the text between them becomes Shift_JIS.
std::string Unescape(const std::string& text, bool convert) {
    std::string result;
    std::string plain;
    auto flush = [&] {
        result += convert ? ToShiftJis(plain) : plain;
        plain.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char kind = text[++i];
        flush();
        if (kind == 'x') {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            result += kind == 'r' ? '\r' : kind == 'n' ? '\n' : kind == 't' ? '\t' : kind;
        }
    }
    flush();
    return result;
}

std::pair<std::string, std::string> Split(const std::string& line) {
    const auto blank = line.find(' ');
    return {line.substr(0, blank), blank == std::string::npos ? "" : line.substr(blank + 1)};
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        words.push_back(word == "\"\"" ? "" : Unescape(word, false));
    }
    return words;
}

// A block's lines, and the names of its parameters: `use NAME ARG...` puts
// each ARG wherever its parameter stands in braces ({chip}).
struct Block {
    std::vector<std::string> parameters;
    std::vector<std::string> lines;
};

// The row's lines with every `use` replaced by its block.
void Expand(const std::map<std::string, Block>& blocks, const std::string& use, std::vector<std::string>& lines) {
    std::istringstream words(use);
    std::string name;
    words >> name;
    const auto block = blocks.find(name);
    if (block == blocks.end()) {
        throw std::runtime_error("no block " + name);
    }
    std::vector<std::string> arguments;
    for (std::string argument; words >> argument;) {
        arguments.push_back(argument);
    }
    if (arguments.size() != block->second.parameters.size()) {
        throw std::runtime_error("use " + use + ": the block takes " + std::to_string(block->second.parameters.size()) +
                                 " arguments");
    }
    for (std::string line : block->second.lines) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string placeholder = "{" + block->second.parameters[i] + "}";
            for (std::size_t at; (at = line.find(placeholder)) != std::string::npos;) {
                line.replace(at, placeholder.size(), arguments[i]);
            }
        }
        const auto [directive, rest] = Split(line);
        if (directive == "use") {
            Expand(blocks, rest, lines);
        } else {
            lines.push_back(line);
        }
    }
}

// The lines meant for `system`: a line led by another system's name and a
// colon is left out, and the name is taken off the others.
std::vector<std::string> ForSystem(const std::vector<std::string>& lines, const std::string& system) {
    std::vector<std::string> chosen;
    for (const std::string& line : lines) {
        const auto [first, rest] = Split(line);
        if (!first.ends_with(':')) {
            chosen.push_back(line);
            continue;
        }
        const std::string named = first.substr(0, first.size() - 1);
        if (named != "linux" && named != "macos" && named != "windows") {
            throw std::runtime_error("no system " + named + ": " + line);
        }
        if (named == system) {
            chosen.push_back(rest);
        }
    }
    return chosen;
}

// The world `before` with the device lines of `changes` replacing theirs;
// "eeprom erased" takes every eeprom line's place.
std::string Changed(const std::string& before, const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::vector<std::string>> blocks(1);
    std::istringstream in(before);
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.starts_with("device ")) {
            blocks.emplace_back();
        }
        blocks.back().push_back(line);
    }
    // A field given in hex is the same field.
    auto keyOf = [](const std::string& line) {
        std::string key = Split(line).first;
        return key.ends_with("_hex") ? key.substr(0, key.size() - 4) : key;
    };
    for (const auto& [device, line] : changes) {
        const std::size_t index = std::stoul(device) + 1;
        const std::string key = keyOf(line);
        std::erase_if(blocks.at(index), [&](const std::string& old) {
            const std::string oldKey = keyOf(old);
            return oldKey == key || (key == "eeprom" && oldKey.starts_with("eeprom")) ||
                   (key.starts_with("eeprom_") && oldKey == "eeprom");
        });
        blocks[index].push_back(line);
    }
    std::string text;
    for (const auto& block : blocks) {
        for (const std::string& line : block) {
            text += line + "\n";
        }
    }
    return text;
}

std::string Normalised(const std::string& text) {
    sim::SimState state;
    std::string error;
    if (!sim::ParseState(text, state, error)) {
        throw std::runtime_error("world: " + error + "\n" + text);
    }
    return sim::FormatState(state);
}

// A virtual chip of the row: its launcher spec, the image it starts with
// (none when empty), and what must differ after the row.
struct Chip {
    std::string spec;
    std::string image;
    std::map<std::string, std::string> changes;
    bool erased = false;
    // What `cut` says: the first `words` words of chip `like`, blank after.
    struct Cut {
        std::size_t words = 0;
        std::size_t like = 0;
    };
    std::optional<Cut> cut;
};

const std::string kBlankImage(kChipImageBytes, '\xFF');

// Where tests/emu/with_chips.sh has the launcher log the chips' requests.
const std::string kRequestLog = "requests.log";

std::string ImageName(std::size_t chip) {
    return "chip" + std::to_string(chip) + ".bin";
}

ChipFields Decoded(const std::string& image, const std::string& what) {
    ChipFields fields;
    std::string failure;
    if (!DecodeChip(image, fields, failure)) {
        Fail(what + ": " + failure);
    }
    return fields;
}

std::string Listed(const ChipFields& fields) {
    std::string text;
    for (const auto& [key, value] : fields) {
        text += key + "=" + value + "\n";
    }
    return text;
}

// Unchanged means the same bytes; changed, the same fields as libftdi reads
// them but the row's.
void CheckChip(const Chip& chip, std::size_t index, const std::string& after) {
    const std::string what = "chip " + std::to_string(index);
    if (chip.erased || chip.changes.empty()) {
        ExpectEqual(what, after, chip.erased ? kBlankImage : chip.image);
        return;
    }
    ChipFields expected = chip.image == kBlankImage ? ChipFields{} : Decoded(chip.image, what + " before");
    const ChipFields actual = Decoded(after, what);
    for (const auto& [key, pattern] : chip.changes) {
        const auto found = actual.find(key);
        const bool matches = found != actual.end() && Matches(found->second, pattern);
        expected[key] = matches ? found->second : pattern;
    }
    ExpectEqual(what, Listed(actual), Listed(expected));
}

// The file with the line of `key` replaced, as a user edits a dump.
std::string Edited(const std::string& text, const std::string& key, const std::string& value) {
    std::string edited;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        edited += (line.starts_with(key + "=") ? key + "=\"" + value + "\"\r" : line) + "\n";
    }
    return edited;
}

// Every word a line of a row may start with. A line that starts with any
// other fails every row, naming its place: a misspelt check must not pass
// for nothing.
const std::set<std::string, std::less<>> kDirectives = {
    "after",  "agrees",  "alike",    "calls", "chip",   "closed",   "copy",     "cut",   "dir",  "edit",
    "expect", "expmode", "expowner", "file",  "folder", "full",     "hardlink", "image", "lang", "library",
    "link",   "mode",    "nofile",   "notes", "out",    "owner",    "place",    "poke",  "raw",  "roundtrip",
    "run",    "same",    "sent",     "shows", "state",  "terminal", "use",      "utf16",
};

// The blocks of all the files, which share one name space, each line checked
// as it is read.
std::map<std::string, Block> ReadBlocks(const std::vector<std::string>& files) {
    std::map<std::string, Block> blocks;
    for (const std::string& file : files) {
        std::ifstream in(file);
        if (!in) {
            throw std::runtime_error("cannot read " + file);
        }
        std::string current;
        int number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            const std::string where = file + ":" + std::to_string(number) + ": ";
            const auto [directive, rest] = Split(line);
            if (directive == "row" || directive == "define") {
                std::istringstream words(rest);
                std::string name;
                std::vector<std::string> parameters;
                words >> name;
                for (std::string word; words >> word;) {
                    parameters.push_back(word);
                }
                const bool native = directive == "row" && parameters == std::vector<std::string>{"native"};
                if (name.empty() || (directive == "row" && !parameters.empty() && !native)) {
                    throw std::runtime_error(where + "expected 'row NAME [native]' or 'define NAME [PARAMETER...]'");
                }
                current = name;
                if (blocks.contains(current)) {
                    throw std::runtime_error(where + "a second block named " + current);
                }
                blocks[current].parameters = directive == "define" ? parameters : std::vector<std::string>{};
                continue;
            }
            if (line.empty() || line[0] == '#') {
                continue;
            }
            if (current.empty()) {
                throw std::runtime_error(where + "a line before the first row or block: " + line);
            }
            // A line for one system: its directive follows the system's name.
            const std::string word = directive.ends_with(':') ? Split(rest).first : directive;
            if (!kDirectives.contains(word)) {
                throw std::runtime_error(where + "unknown directive '" + word + "'");
            }
            blocks[current].lines.push_back(line);
        }
    }
    return blocks;
}

int RunRow(const std::string& row, const std::vector<std::string>& files) {
    const std::map<std::string, Block> blocks = ReadBlocks(files);
    if (!blocks.contains(row)) {
        throw std::runtime_error("no row " + row);
    }
    std::vector<std::string> expanded;
    Expand(blocks, row, expanded);
    const std::vector<std::string> lines = ForSystem(expanded, ToolUnderTest::FromEnvironment().system);

    LibraryKind library = LibraryKind::kSimulator;
    LibraryPlace place = LibraryPlace::kBesideTool;
    bool ownFileSystem = false;
    std::string folder;
    std::string language;
    std::string world = "log 1\n";
    std::vector<Chip> chips;
    for (const std::string& line : lines) {
        const auto [directive, rest] = Split(line);
        const auto [name, text] = Split(rest);
        if (directive == "library") {
            library = rest == "none"     ? LibraryKind::kNone
                      : rest == "legacy" ? LibraryKind::kLegacySimulator
                                         : throw std::runtime_error("no library " + rest);
        } else if (directive == "place") {
            place = rest == "workdir" ? LibraryPlace::kWorkingDirectory
                    : rest == "path"  ? LibraryPlace::kOnPath
                                      : throw std::runtime_error("no place " + rest);
        } else if (directive == "state") {
            world += rest + "\n";
        } else if (directive == "full") {
            ownFileSystem = true;
        } else if (directive == "folder") {
            folder = rest;
        } else if (directive == "lang") {
            language = rest;
        } else if (directive == "chip") {
            chips.push_back({name,
                             text == "none"    ? ""
                             : text == "blank" ? kBlankImage
                                               : FactoryImage(text),
                             {},
                             false,
                             std::nullopt});
        } else if (directive == "poke") {
            const std::vector<std::string> bytes = Words(text);
            std::string& image = chips.at(std::stoul(name)).image;
            std::size_t at = std::stoul(bytes.at(0), nullptr, 16);
            for (std::size_t i = 1; i < bytes.size(); ++i) {
                image.at(at++) = static_cast<char>(std::stoul(bytes[i], nullptr, 16));
            }
            image = WithChecksum(image);
        }
    }
    // With virtual chips, the library is FTDI's and there is no world file.
    const bool simulated = chips.empty() && library != LibraryKind::kNone;
    ToolSandbox sandbox(library, place, ownFileSystem, folder);
    sandbox.SetLanguage(language);
    const bool windows = ToolUnderTest::FromEnvironment().windows;
    const std::string directory = windows ? ToShiftJisOrQuestionMark(sandbox.PrintedPath("")) : sandbox.PrintedPath("");
    auto path = [&](const std::string& name) { return sandbox.FilePath(name); };
    auto expected = [&](const std::string& text) {
        std::string bytes = Unescape(text, true);
        for (std::size_t at; (at = bytes.find("{dir}")) != std::string::npos;) {
            bytes.replace(at, 5, directory);
        }
        return bytes;
    };
    if (simulated) {
        WriteFile(sandbox.StatePath(), world);
    }
    std::string plugged;
    for (std::size_t i = 0; i < chips.size(); ++i) {
        plugged += chips[i].spec;
        if (!chips[i].image.empty()) {
            plugged += ",image=../" + ImageName(i);
            WriteFile(path(ImageName(i)), chips[i].image);
        }
        plugged += "\n";
    }
    if (!chips.empty()) {
        WriteFile(path("chips.txt"), plugged);
    }

    std::vector<std::pair<std::string, std::string>> changes;
    std::map<std::string, std::string> contents;
    std::vector<std::pair<std::string, std::string>> sameFiles;
    std::string output;
    std::string printed;
    std::string runName;
    bool ran = false;
    bool onTerminal = false;
    auto checkOutput = [&] {
        if (ran) {
            ExpectEqual("output of " + runName, output, printed);
        }
        printed.clear();
    };
    for (const std::string& line : lines) {
        const auto [directive, rest] = Split(line);
        const auto [name, text] = Split(rest);
        if (directive == "file" || directive == "raw") {
            std::ofstream(path(name), std::ios::binary | std::ios::app)
                << Unescape(text, false) << (directive == "file" ? "\r\n" : "");
        } else if (directive == "utf16") {
            WriteFile(path(name), ToUtf16(ReadFile(path(name)), text));
        } else if (directive == "dir") {
            std::filesystem::create_directory(path(name));
        } else if (directive == "link") {
            std::filesystem::create_symlink(text, path(name));
        } else if (directive == "mode") {
            chmod(path(name).c_str(), static_cast<mode_t>(std::stoul(text, nullptr, 8)));
        } else if (directive == "copy") {
            std::filesystem::copy_file(path(name), path(text), std::filesystem::copy_options::overwrite_existing);
        } else if (directive == "hardlink") {
            std::filesystem::create_hard_link(path(text), path(name));
        } else if (directive == "owner") {
            if (chown(path(name).c_str(), UserNamed(text).pw_uid, UserNamed(text).pw_gid) != 0) {
                throw std::runtime_error("cannot give " + name + " to " + text + " (the row needs root)");
            }
        } else if (directive == "notes") {
            std::ofstream notes(path(name), std::ios::binary | std::ios::app);
            for (int i = 0; i < std::stoi(text); ++i) {
                notes << "; note " << i << " about this board\r\n";
            }
        } else if (directive == "full") {
            sandbox.FillFileSystem(kRoomOnAFullDisk);
        } else if (directive == "run" || directive == "closed" || directive == "terminal") {
            checkOutput();
            std::filesystem::remove(sandbox.LogPath());
            std::filesystem::remove(path(kRequestLog));
            runName = line;
            const ToolRun run = directive == "run"      ? sandbox.Run(Words(rest))
                                : directive == "closed" ? sandbox.RunIntoClosedPipe(Words(rest))
                                                        : sandbox.RunOnTerminal(Words(rest));
            // Under Wine, standard error also carries Wine's own messages.
            if (run.exitStatus != 0 || (!windows && !run.errors.empty())) {
                Fail(line + ": status " + std::to_string(run.exitStatus) + ", errors:\n" + run.errors);
            }
            output = run.output;
            ran = directive == "run";
            onTerminal = directive == "terminal";
        } else if (directive == "shows") {
            if (!onTerminal) {
                throw std::runtime_error("shows without terminal: " + line);
            }
            if (output.find(Unescape(rest, false)) == std::string::npos) {
                Fail(runName + " did not show " + rest + "\n--- the terminal received:\n" + Shown(output));
            }
        } else if (directive == "out") {
            if (onTerminal) {
                throw std::runtime_error("out after terminal: " + line);
            }
            printed += expected(rest) + "\r\n";
        } else if (directive == "calls") {
            std::vector<sim::SimLogEntry> entries;
            std::string error;
            if (!sim::ReadLogFile(sandbox.LogPath().string(), entries, error)) {
                Fail("log: " + error);
            }
            std::string calls;
            for (const sim::SimLogEntry& entry : entries) {
                const std::string* device = entry.Argument(entry.entryPoint == "FT_Open" ? "index" : "device");
                if (device != nullptr) {
                    calls += " " + entry.entryPoint.substr(3) + "@" + *device;
                }
            }
            ExpectEqual(line, calls, rest.empty() ? "" : " " + rest);
        } else if (directive == "after") {
            changes.emplace_back(name, text);
        } else if (directive == "expect") {
            contents[name] += expected(text) + "\r\n";
        } else if (directive == "nofile") {
            if (std::filesystem::exists(std::filesystem::symlink_status(path(rest)))) {
                Fail(rest + " exists");
            }
        } else if (directive == "edit") {
            const auto [key, value] = Split(text);
            WriteFile(path(name), Edited(ReadFile(path(name)), key, Unescape(value, false)));
        } else if (directive == "alike") {
            ExpectEqual(line, Listed(SettingsOf(ReadFile(path(text)))), Listed(SettingsOf(ReadFile(path(name)))));
        } else if (directive == "agrees") {
            const std::vector<std::string> words = Words(rest);
            const auto settings = SettingsOf(ReadFile(path(words.at(0))));
            std::size_t agreeing = 0;
            for (const auto& [key, value] : Decoded(ReadFile(path(ImageName(std::stoul(words.at(1))))), line)) {
                if (const auto found = settings.find(key); found != settings.end()) {
                    ExpectEqual(line + ": " + key, found->second, value);
                    ++agreeing;
                }
            }
            ExpectEqual(line, std::to_string(agreeing), words.at(2));
        } else if (directive == "image") {
            Chip& chip = chips.at(std::stoul(name));
            const auto [key, value] = Split(text);
            if (text == "blank") {
                chip.erased = true;
            } else {
                chip.changes[key] = Unescape(value, false);
            }
        } else if (directive == "cut") {
            const std::vector<std::string> words = Words(text);
            chips.at(std::stoul(name)).cut = Chip::Cut{std::stoul(words.at(0)), std::stoul(words.at(1))};
        } else if (directive == "sent") {
            std::ifstream log(path(kRequestLog));
            if (!log) {
                throw std::runtime_error("sent without a request log: " + line);
            }
            std::size_t count = 0;
            for (std::string request; std::getline(log, request);) {
                if (request.find(text) != std::string::npos) {
                    ++count;
                }
            }
            ExpectEqual(runName + ": " + line, std::to_string(count), name);
        } else if (directive == "same") {
            sameFiles.emplace_back(name, text);
        } else if (directive == "expowner") {
            struct stat status {};
            stat(path(name).c_str(), &status);
            ExpectEqual("owner of " + name, std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid),
                        std::to_string(UserNamed(text).pw_uid) + ":" + std::to_string(UserNamed(text).pw_gid));
        } else if (directive == "roundtrip") {
            const std::vector<std::string> words = Words(rest);
            std::string wrong;
            std::cout << RoundTrip(sandbox,
                                   {std::stoull(words.at(0)), std::stoull(words.at(1)), std::stoull(words.at(2)),
                                    std::stoull(words.at(3))},
                                   wrong);
            if (!wrong.empty()) {
                Fail(line + ":\n" + wrong);
            }
        } else if (directive == "expmode") {
            struct stat status {};
            stat(path(name).c_str(), &status);
            ExpectEqual("mode of " + name, std::to_string(status.st_mode & 07777),
                        std::to_string(std::stoul(text, nullptr, 8)));
        }
    }
    checkOutput();
    for (const auto& [name, content] : contents) {
        ExpectEqual(name, std::filesystem::exists(path(name)) ? ReadFile(path(name)) : "(none)", content);
    }
    for (const auto& [name, other] : sameFiles) {
        ExpectEqual(name + " beside " + other, ReadFile(path(name)), ReadFile(path(other)));
    }
    for (std::size_t i = 0; i < chips.size(); ++i) {
        if (const auto& cut = chips[i].cut) {
            const std::string kept = ReadFile(path(ImageName(cut->like))).substr(0, 2 * cut->words);
            ExpectEqual("chip " + std::to_string(i), ReadFile(path(ImageName(i))),
                        kept + kBlankImage.substr(kept.size()));
        } else if (!chips[i].image.empty()) {
            CheckChip(chips[i], i, ReadFile(path(ImageName(i))));
        }
    }
    if (simulated) {
        ExpectEqual("the world after", Normalised(ReadFile(sandbox.StatePath())), Normalised(Changed(world, changes)));
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ft232h::e2e

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: e2e_row ROW FILE...\n";
        return 2;
    }
    // Fixed, so that a file mode the tool fails to keep shows.
    umask(022);
    // A reader of the messages that goes away must not end the row before
    // its sandbox is gone: a tmpfs mounted for it would stay mounted.
    signal(SIGPIPE, SIG_IGN);
    try {
        return ft232h::e2e::RunRow(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "error: " << error.what() << "\n";
        return 2;
    }
}
