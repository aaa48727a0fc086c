// Where the running executable lies, as the platform service reports it.
#include "app/executable_path.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace ft232h {
namespace {

TEST(ExecutablePath, IsTheDirectoryOfThisProgramWithItsSeparator) {
    const auto directory = ExecutableDirectory();
    ASSERT_TRUE(directory.has_value());
    ASSERT_FALSE(directory->empty());
    EXPECT_EQ(directory->front(), '/');
    EXPECT_EQ(directory->back(), '/');
    EXPECT_EQ(access((*directory + FT232H_TEST_EXECUTABLE_NAME).c_str(), X_OK), 0) << *directory;
}

TEST(ExecutablePath, DoesNotDependOnTheWorkingDirectory) {
    const auto before = ExecutableDirectory();
    char working[4096];
    ASSERT_NE(getcwd(working, sizeof working), nullptr);
    ASSERT_EQ(chdir("/"), 0);
    const auto after = ExecutableDirectory();
    ASSERT_EQ(chdir(working), 0);
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace ft232h
