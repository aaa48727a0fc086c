// Virtual FT232H chips for the rows that run the tool with FTDI's own library:
// their images are made and judged here, outside the tool, by the chip model
// and by libftdi's decoder. A build without the virtual chips links the
// implementation that refuses such rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {

inline constexpr std::size_t kChipImageBytes = 256;

// libftdi's reading of an image, named after the settings file's keys.
using ChipFields = std::map<std::string, std::string>;

// A fresh chip's 256 bytes with `serial`, as FTDI's library programs them.
std::string FactoryImage(const std::string& serial);
// `image` with its checksum word made right again after a row changed bytes.
std::string WithChecksum(const std::string& image);
// False with `failure` set for a blank or corrupt image.
bool DecodeChip(const std::string& image, ChipFields& fields, std::string& failure);

// Which generated settings files a round trip tries: those numbered `shard`,
// `shard` + `shards`, ... below `files`, of the sequence `seed`.
struct RoundTripShard {
    std::uint64_t seed = 0;
    std::uint64_t shard = 0;
    std::uint64_t shards = 1;
    std::uint64_t files = 0;
};
// Puts each of those files through -w (and -r) on the virtual chip 0 of
// `sandbox`, starting each from the chip's image as it is found, and leaves
// that image in place at the end (tests/emu/round_trip.cpp). Adds what went
// wrong with each file to `failures`; returns a line of figures.
std::string RoundTrip(const ToolSandbox& sandbox, const RoundTripShard& shard, std::string& failures);

}  // namespace ft232h::e2e
