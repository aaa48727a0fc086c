// The tool in a folder that belongs to an administrator, as on a shared
// bench, with a settings file each user may write: a dump by a user who may
// not add a file to the folder goes into the settings file itself. Runs the
// tool as nobody (a Windows build under Wine in a prefix of nobody's),
// which takes root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/e2e/tool_sandbox.hpp"

namespace ft232h::e2e {
namespace {

constexpr const char* kWorld =
    "device 0\n"
    "  type 8\n"
    "  serial FT6XK1QA\n"
    "  description Single RS232-HS\n"
    "  eeprom_record_hex 0800000003041460010064000000000000000400000400000000000000000000000000000000000001000000\n"
    "  eeprom_manufacturer FTDI\n"
    "  eeprom_manufacturer_id FT\n"
    "  eeprom_description Single RS232-HS\n"
    "  eeprom_serial FT6XK1QA\n";

constexpr const char* kNotes = "; the bench's notes\r\n[Bench]\r\nowner=lab\r\n";

std::set<std::string> NamesIn(const std::filesystem::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

ino_t InodeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_ino;
}

TEST(SharedToolFolder, ADumpByAUserWhoMayWriteOnlyTheSettingsFileRewritesItInPlace) {
    ASSERT_EQ(::geteuid(), 0U) << "the test runs the tool as another user, which takes root";
    ToolSandbox sandbox;
    WriteFile(sandbox.StatePath(), kWorld);
    const std::filesystem::path settings = sandbox.FilePath("ft232h_eeprom_no0.ini");

    // What a dump into the notes gives where the folder may be written.
    WriteFile(settings, kNotes);
    const ToolRun byRoot = sandbox.Run({"-r", "0"});
    const std::string dumped = ReadFile(settings);
    ASSERT_EQ(SettingsOf(dumped)["SerialNumber"], "FT6XK1QA") << byRoot.output;
    ASSERT_EQ(dumped.rfind(kNotes, 0), 0U);

    WriteFile(settings, kNotes);
    std::filesystem::permissions(sandbox.Directory(), std::filesystem::perms(0755));
    std::filesystem::permissions(settings, std::filesystem::perms(0666));
    sandbox.SetUser("nobody");
    const ino_t before = InodeOf(settings);
    const std::set<std::string> names = NamesIn(sandbox.Directory());
    const ToolRun byNobody = sandbox.Run({"-r", "0"});
    EXPECT_EQ(byNobody.exitStatus, 0) << byNobody.errors;
    EXPECT_EQ(byNobody.output, byRoot.output);
    EXPECT_EQ(ReadFile(settings), dumped);
    EXPECT_EQ(InodeOf(settings), before);
    EXPECT_EQ(std::filesystem::status(settings).permissions(), std::filesystem::perms(0666));
    EXPECT_EQ(NamesIn(sandbox.Directory()), names);
}

}  // namespace
}  // namespace ft232h::e2e
