// Loading the D2XX library on POSIX systems.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "d2xx/d2xx_api.hpp"
#include "d2xx/shared_library.hpp"

namespace ft232h {
namespace {

const std::string kFakeDirectory = std::string(FT232H_FAKE_D2XX_DIRECTORY) + "/";

TEST(SharedLibraryPosix, LoadsTheLibraryBesideTheExecutable) {
    const auto library = LoadD2xxLibrary(kFakeDirectory);
    ASSERT_NE(library, nullptr);
    const RawSymbol symbol = library->FindSymbol("FT_CreateDeviceInfoList");
    ASSERT_NE(symbol, nullptr);
    const auto call = reinterpret_cast<FT_CreateDeviceInfoList_t>(symbol);
    std::uint32_t count = 0;
    EXPECT_EQ(call(&count), 42u);
    EXPECT_EQ(count, 3u);
}

TEST(SharedLibraryPosix, GivesNoAddressForAnEntryPointTheLibraryLacks) {
    const auto library = LoadD2xxLibrary(kFakeDirectory);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(library->FindSymbol("FT_EEPROM_Read"), nullptr);
}

TEST(SharedLibraryPosix, GivesNothingWhenNoLibraryCanBeFound) {
    if (void* installed = dlopen(FT232H_D2XX_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL); installed != nullptr) {
        dlclose(installed);
        GTEST_SKIP() << "a D2XX library is installed on this machine";
    }
    EXPECT_EQ(LoadD2xxLibrary("/nonexistent-directory/"), nullptr);
    EXPECT_EQ(LoadD2xxLibrary(""), nullptr);
}

}  // namespace
}  // namespace ft232h
