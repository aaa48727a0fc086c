// Runs one row of an end-to-end table (tests/e2e/*.rows) against the built
// tool: e2e_row ROW FILE... (a block of any file may be used in another). A
// row is a script, one directive a line; docs/testing.md lists them. Every
// line is checked as the files are read: a word the runner does not know, a
// line outside a row or block, or a malformed row fails every row, naming
// the file and line, so that a misspelt check cannot pass for nothing.
//
// The world and the sandbox come first, whatever their place in the row;
// every other directive acts where it stands, and `expect` and `after` are
// judged once the row has run. `out` and `calls` belong to the run before
// them.
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/chip_world.hpp"
#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

int failures = 0;

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

struct Line {
    std::string text;
    std::string where;  // "FILE:NUMBER: ", for what goes wrong with it
};
// A block's lines, and the names of its parameters: `use NAME ARG...` puts
// each ARG wherever its parameter stands in braces ({chip}).
struct Block {
    std::vector<std::string> parameters;
    std::vector<Line> lines;
};

// The row's lines with every `use` replaced by its block.
void Expand(const std::map<std::string, Block>& blocks, const Line& use, std::vector<Line>& lines) {
    std::istringstream words(use.text);
    std::string name;
    words >> name;
    const auto block = blocks.find(name);
    if (block == blocks.end()) {
        throw std::runtime_error(use.where + "no block " + name);
    }
    std::vector<std::string> arguments;
    for (std::string argument; words >> argument;) {
        arguments.push_back(argument);
    }
    if (arguments.size() != block->second.parameters.size()) {
        throw std::runtime_error(use.where + "use " + use.text + ": the block takes " +
                                 std::to_string(block->second.parameters.size()) + " arguments");
    }
    for (Line line : block->second.lines) {
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::string placeholder = "{" + block->second.parameters[i] + "}";
            for (std::size_t at; (at = line.text.find(placeholder)) != std::string::npos;) {
                line.text.replace(at, placeholder.size(), arguments[i]);
            }
        }
        const auto [directive, rest] = Split(line.text);
        if (directive == "use") {
            Expand(blocks, {rest, line.where}, lines);
        } else {
            lines.push_back(line);
        }
    }
}

// The lines meant for `system`: a line led by another system's name and a
// colon is left out, and the name is taken off the others.
std::vector<Line> ForSystem(const std::vector<Line>& lines, const std::string& system) {
    std::vector<Line> chosen;
    for (const Line& line : lines) {
        const auto [first, rest] = Split(line.text);
        if (!first.ends_with(':')) {
            chosen.push_back(line);
            continue;
        }
        const std::string named = first.substr(0, first.size() - 1);
        if (named != "linux" && named != "macos" && named != "windows") {
            throw std::runtime_error(line.where + "no system " + named);
        }
        if (named == system) {
            chosen.push_back({rest, line.where});
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

// A virtual chip of the row: its launcher spec, the image it starts with
// (none when empty), and what must differ after the row.
struct Chip {
    std::string spec;
    std::string image;
    std::map<std::string, std::string> changes;
    bool erased = false;
    // `like OTHER WORDS`: the first WORDS words of chip OTHER, blank after.
    std::optional<std::pair<std::size_t, std::size_t>> like;
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
void CheckChip(const Chip& chip, std::size_t index, const ToolSandbox& sandbox) {
    const std::string what = "chip " + std::to_string(index);
    const std::string after = ReadFile(sandbox.FilePath(ImageName(index)));
    if (chip.like) {
        const auto [other, words] = *chip.like;
        const std::string kept = ReadFile(sandbox.FilePath(ImageName(other))).substr(0, 2 * words);
        ExpectEqual(what, after, kept + kBlankImage.substr(kept.size()));
        return;
    }
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
// A key the file does not hold is an edit that would test nothing.
std::string Edited(const std::string& text, const std::string& key, const std::string& value) {
    std::string edited;
    bool found = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const bool keyed = line.starts_with(key + "=");
        found = found || keyed;
        edited += (keyed ? key + "=\"" + value + "\"\r" : line) + "\n";
    }
    if (!found) {
        throw std::runtime_error("no line of " + key);
    }
    return edited;
}

// What a row sets up, runs and expects, as its directives go by.
struct RowRun {
    // Before the sandbox is made.
    LibraryKind library = LibraryKind::kSimulator;
    LibraryPlace place = LibraryPlace::kBesideTool;
    std::string folder;
    std::string language;
    std::string world = "log 1\n";
    std::vector<Chip> chips;
    // Once it is.
    std::unique_ptr<ToolSandbox> sandbox;
    std::string directory;  // as the tool prints it
    bool windows = false;
    // The last run, and what it must have printed.
    std::string runName;
    std::string output;
    std::string printed;
    // What is judged once the row has run.
    std::vector<std::pair<std::string, std::string>> changes;
    std::vector<std::pair<std::string, std::string>> files;

    bool Simulated() const { return chips.empty() && library != LibraryKind::kNone; }
    std::filesystem::path Path(const std::string& name) const { return sandbox->FilePath(name); }
    // What a `files/NAME` argument names: a file of the table's own; any
    // other name is a file beside the tool.
    std::filesystem::path Source(const std::string& name) const {
        return name.starts_with("files/") ? std::filesystem::path(FT232H_ROW_FILES) / name.substr(6) : Path(name);
    }
    std::string Expected(const std::string& text) const {
        std::string bytes = Unescape(text, true);
        for (std::size_t at; (at = bytes.find("{dir}")) != std::string::npos;) {
            bytes.replace(at, 5, directory);
        }
        return bytes;
    }
    void CheckOutput() {
        if (!runName.empty()) {
            ExpectEqual("output of " + runName, output, printed);
        }
        printed.clear();
    }
};

std::size_t Number(const std::string& text) {
    std::size_t end = 0;
    const std::size_t number = text.empty() ? 0 : std::stoul(text, &end);
    if (end == 0 || end != text.size()) {
        throw std::runtime_error("not a number: " + text);
    }
    return number;
}

void SetUp(RowRun& row, const std::string& rest) {
    for (const std::string& word : Words(rest)) {
        const auto equals = word.find('=');
        const std::string key = word.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
        if (key == "library" && (value == "legacy" || value == "none")) {
            row.library = value == "none" ? LibraryKind::kNone : LibraryKind::kLegacySimulator;
        } else if (key == "place" && (value == "workdir" || value == "path")) {
            row.place = value == "path" ? LibraryPlace::kOnPath : LibraryPlace::kWorkingDirectory;
        } else if (key == "folder" && !value.empty()) {
            row.folder = value;
        } else if (key == "lang" && !value.empty()) {
            row.language = value;
        } else {
            throw std::runtime_error("no set-up " + word);
        }
    }
}

// A line of the simulator's world, the lines of a world file of the
// table's (files/NAME), or a virtual chip: `chip SPEC IMAGE [AT=HH...]...`,
// IMAGE a fresh chip's serial number, blank or none, with bytes from offset
// AT (hex) and its checksum made right again.
void World(RowRun& row, const std::string& rest) {
    const auto [first, chip] = Split(rest);
    if (first.starts_with("files/")) {
        row.world += ReadFile(row.Source(first));
        return;
    }
    if (first != "chip") {
        row.world += rest + "\n";
        return;
    }
    const std::vector<std::string> words = Words(chip);
    if (words.size() < 2) {
        throw std::runtime_error("world chip SPEC IMAGE [AT=HH...]...: " + rest);
    }
    std::string image = words[1] == "none" ? "" : words[1] == "blank" ? kBlankImage : FactoryImage(words[1]);
    for (const std::string& poke : std::span(words).subspan(2)) {
        const auto equals = poke.find('=');
        if (equals == std::string::npos || equals == 0 || (poke.size() - equals - 1) % 2 != 0) {
            throw std::runtime_error("not AT=HH...: " + poke);
        }
        std::size_t at = std::stoul(poke.substr(0, equals), nullptr, 16);
        for (std::size_t i = equals + 1; i < poke.size(); i += 2) {
            image.at(at++) = static_cast<char>(std::stoul(poke.substr(i, 2), nullptr, 16));
        }
    }
    row.chips.push_back({words[0], words.size() > 2 ? WithChecksum(image) : image, {}, false, std::nullopt});
}

void File(RowRun& row, const std::string& rest) {
    const auto [name, text] = Split(rest);
    std::ofstream(row.Path(name), std::ios::binary | std::ios::app) << Unescape(text, false) << "\r\n";
}

void Copy(RowRun& row, const std::string& rest) {
    const auto [from, to] = Split(rest);
    std::filesystem::copy_file(row.Source(from), row.Path(to), std::filesystem::copy_options::overwrite_existing);
}

void Edit(RowRun& row, const std::string& rest) {
    const auto [name, text] = Split(rest);
    const auto [key, value] = Split(text);
    WriteFile(row.Path(name), Edited(ReadFile(row.Path(name)), key, Unescape(value, false)));
}

void Run(RowRun& row, const std::string& rest) {
    row.CheckOutput();
    std::filesystem::remove(row.sandbox->LogPath());
    std::filesystem::remove(row.Path(kRequestLog));
    row.runName = "run " + rest;
    const ToolRun run = row.sandbox->Run(Words(rest));
    // Under Wine, standard error also carries Wine's own messages.
    if (run.exitStatus != 0 || (!row.windows && !run.errors.empty())) {
        Fail(row.runName + ": status " + std::to_string(run.exitStatus) + ", errors:\n" + run.errors);
    }
    row.output = run.output;
}

void Out(RowRun& row, const std::string& rest) {
    if (row.runName.empty()) {
        throw std::runtime_error("out before any run: " + rest);
    }
    row.printed += row.Expected(rest) + "\r\n";
}

// What the last run asked of the devices: each call of the simulator's with
// a device, Name@device; of virtual chips, each kind of request that changes
// an EEPROM, once.
void Calls(RowRun& row, const std::string& rest) {
    std::string calls;
    if (!row.chips.empty()) {
        std::ifstream log(row.Path(kRequestLog));
        if (!log) {
            throw std::runtime_error("calls without a request log");
        }
        std::set<std::string> seen;
        for (std::string request; std::getline(log, request);) {
            for (const std::string kind : {"erase EEPROM", "write EEPROM"}) {
                if (request.find(kind) != std::string::npos && seen.insert(kind).second) {
                    calls += " " + kind.substr(0, kind.find(' '));
                }
            }
        }
    } else {
        calls = row.sandbox->SimulatorCalls();
    }
    ExpectEqual(row.runName + ": calls", calls, rest.empty() ? "" : " " + rest);
}

// What a device holds after the row that differs from the world: a line of
// the simulator's device; of a virtual chip, a field libftdi decodes (? for
// any character), the fields of a file of the table's (files/NAME, a field
// and its value a line), `erased`, or `like OTHER WORDS`.
void After(RowRun& row, const std::string& rest) {
    const auto [device, change] = Split(rest);
    if (row.chips.empty()) {
        row.changes.emplace_back(device, change);
        return;
    }
    Chip& chip = row.chips.at(Number(device));
    const auto [key, value] = Split(change);
    if (change == "erased") {
        chip.erased = true;
    } else if (key.starts_with("files/")) {
        std::istringstream fields(ReadFile(row.Source(key)));
        for (std::string line; std::getline(fields, line);) {
            const auto [field, text] = Split(line);
            chip.changes[field] = text;
        }
    } else if (key == "like") {
        const auto [other, words] = Split(value);
        chip.like.emplace(Number(other), Number(words));
    } else {
        chip.changes[key] = Unescape(value, false);
    }
}

void Expect(RowRun& row, const std::string& rest) {
    const auto [name, what] = Split(rest);
    if (name.empty() || what.empty()) {
        throw std::runtime_error("expect NAME files/GOLDEN|OTHER|none: " + rest);
    }
    row.files.emplace_back(name, what);
}

void RoundTripOnChip(RowRun& row, const std::string& rest) {
    const std::vector<std::string> words = Words(rest);
    if (words.size() != 4) {
        throw std::runtime_error("roundtrip SEED SHARD SHARDS FILES: " + rest);
    }
    std::string wrong;
    std::cout << RoundTrip(*row.sandbox, {Number(words[0]), Number(words[1]), Number(words[2]), Number(words[3])},
                           wrong);
    if (!wrong.empty()) {
        Fail("roundtrip " + rest + ":\n" + wrong);
    }
}

// Every directive but row, define and use, which shape the table. Set-up
// directives act before the sandbox is made.
struct Directive {
    bool setUp;
    void (*act)(RowRun&, const std::string&);
};
const std::map<std::string, Directive, std::less<>> kDirectives = {
    {"setup", {true, SetUp}},
    {"world", {true, World}},
    {"file", {false, File}},
    {"copy", {false, Copy}},
    {"edit", {false, Edit}},
    {"run", {false, Run}},
    {"out", {false, Out}},
    {"calls", {false, Calls}},
    {"after", {false, After}},
    {"expect", {false, Expect}},
    {"roundtrip", {false, RoundTripOnChip}},
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
            if (!kDirectives.contains(word) && word != "use") {
                throw std::runtime_error(where + "unknown directive '" + word + "'");
            }
            blocks[current].lines.push_back({line, where});
        }
    }
    return blocks;
}

// The file NAME after the row against what `expect` names.
void CheckFile(const RowRun& row, const std::string& name, const std::string& what) {
    const std::filesystem::path path = row.Path(name);
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(path));
    if (what == "none") {
        if (exists) {
            Fail(name + " exists");
        }
        return;
    }
    ExpectEqual(name + " against " + what, exists ? ReadFile(path) : "(none)", ReadFile(row.Source(what)));
}

int RunRow(const std::string& name, const std::vector<std::string>& files) {
    const std::map<std::string, Block> blocks = ReadBlocks(files);
    if (!blocks.contains(name)) {
        throw std::runtime_error("no row " + name);
    }
    std::vector<Line> expanded;
    Expand(blocks, {name, ""}, expanded);
    std::vector<std::tuple<const Directive*, std::string, std::string>> lines;
    for (const Line& line : ForSystem(expanded, ToolUnderTest::FromEnvironment().system)) {
        const auto [directive, rest] = Split(line.text);
        lines.emplace_back(&kDirectives.at(directive), rest, line.where);
    }
    // A line the runner cannot carry out fails the row, naming where it is.
    auto act = [&](bool setUp, RowRun& row) {
        for (const auto& [directive, rest, where] : lines) {
            if (directive->setUp != setUp) {
                continue;
            }
            try {
                directive->act(row, rest);
            } catch (const std::exception& error) {
                throw std::runtime_error(where + error.what());
            }
        }
    };

    RowRun row;
    act(true, row);
    row.sandbox = std::make_unique<ToolSandbox>(row.library, row.place, false, row.folder);
    row.sandbox->SetLanguage(row.language);
    row.windows = ToolUnderTest::FromEnvironment().windows;
    row.directory = row.windows ? ToShiftJisOrQuestionMark(row.sandbox->PrintedPath("")) : row.sandbox->PrintedPath("");
    if (row.Simulated()) {
        WriteFile(row.sandbox->StatePath(), row.world);
    }
    std::string plugged;
    for (std::size_t i = 0; i < row.chips.size(); ++i) {
        plugged += row.chips[i].spec;
        if (!row.chips[i].image.empty()) {
            plugged += ",image=../" + ImageName(i);
            WriteFile(row.Path(ImageName(i)), row.chips[i].image);
        }
        plugged += "\n";
    }
    if (!row.chips.empty()) {
        WriteFile(row.Path("chips.txt"), plugged);
    }

    act(false, row);
    row.CheckOutput();
    for (const auto& [file, what] : row.files) {
        CheckFile(row, file, what);
    }
    for (std::size_t i = 0; i < row.chips.size(); ++i) {
        if (!row.chips[i].image.empty() || row.chips[i].like) {
            CheckChip(row.chips[i], i, *row.sandbox);
        }
    }
    if (row.Simulated()) {
        ExpectEqual("the world after", NormalisedWorld(ReadFile(row.sandbox->StatePath())),
                    NormalisedWorld(Changed(row.world, row.changes)));
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
    // its sandbox is gone, and the processes of its runs with it.
    signal(SIGPIPE, SIG_IGN);
    try {
        return ft232h::e2e::RunRow(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "error: " << error.what() << "\n";
        return 2;
    }
}
