// The user's kept choices against what may stand under the settings file's
// name, and a save that keeps the other choices.
#include "platform/settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

TEST(Settings, OddFilesGiveTheDefaultsAndASaveReplacesThemKeepingTheOtherChoices)
{
    char dir[4096];
    ASSERT_GT(UserConfigDir(dir, sizeof dir), 0);
    const std::string file = std::string(dir) + "/settings";
    fs::remove_all(dir);

    // None yet: the defaults, and the folder is made by the first save.
    EXPECT_EQ(1, GetUserChoice("ask-first", 1));
    ASSERT_EQ(0, SetUserChoice("ask-first", 0));
    ASSERT_EQ(0, SetUserChoice("verify", 1));
    EXPECT_EQ(0, GetUserChoice("ask-first", 1));
    EXPECT_EQ(1, GetUserChoice("verify", 0));

    // Nothing under the name may block or feed the reader: each gives the defaults.
    const auto odd = [&](auto make) {
        fs::remove(file);
        make();
        return GetUserChoice("verify", 7);
    };
    EXPECT_EQ(7, odd([&] { ASSERT_EQ(0, mkfifo(file.c_str(), 0600)); }));
    EXPECT_EQ(7, odd([&] { fs::create_symlink("/dev/zero", file); }));
    EXPECT_EQ(7, odd([&] { std::ofstream(file) << "verify=1\n" << std::string(8192, '#') << "\n"; }));
    EXPECT_EQ(7, odd([&] { std::ofstream(file) << "verify=yes\nverify = 1\n"; }));

    // A save replaces whatever stood there with a file of its own, never
    // writing through a link, and keeps the choices it did not set.
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
    ASSERT_EQ(0, SetUserChoice("verify", 1));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
    fs::remove(file);
    std::ofstream(file) << "# kept\r\nask-first=0\r\nsomething else\n";
    ASSERT_EQ(0, SetUserChoice("verify", 1));
    EXPECT_EQ(0, GetUserChoice("ask-first", 1));
    EXPECT_EQ(1, GetUserChoice("verify", 0));
    EXPECT_EQ(-1, SetUserChoice("not a name", 1));
    fs::remove_all(dir);
}

} // namespace
