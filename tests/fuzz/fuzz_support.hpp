// What the fuzz targets share: a scratch directory for the files they hand to
// the settings-file service, whole-file reads and writes, and the way a
// broken property stops the run so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace ft232h::fuzz {

// libFuzzer saves the input and fails when the target aborts.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void Require(bool holds, const char* what) {
    if (!holds) {
        Fail(what);
    }
}

// One directory per process under the system's temporary directory, removed
// when the process ends normally (a crashing input leaves it for a look).
inline const std::filesystem::path& ScratchDirectory() {
    static const std::filesystem::path directory = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ft232h-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail("cannot create a scratch directory");
        }
        return std::filesystem::path(pattern);
    }();
    static const struct Remover {
        ~Remover() {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        }
    } remover;
    return directory;
}

inline void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    Require(out.good(), "cannot write the scratch file");
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    Require(in.good(), "cannot read the scratch file back");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace ft232h::fuzz
