// Virtual FT232H chips for the rows that run the tool with FTDI's own library:
// their images are made and judged here, outside the tool, by the chip model
// and by libftdi's decoder. A build without the virtual chips links the
// implementation that refuses such rows.
#pragma once

#include <cstddef>
#include <map>
#include <string>

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

}  // namespace ft232h::e2e
