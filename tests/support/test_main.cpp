// Test main: every test program runs with a QApplication on the offscreen
// platform, so widgets, timers and socket notifiers work without a display,
// and with a configuration folder of its own: no test reads or changes the
// user's kept choices or pinned ports, nor do the programs it spawns.
#include "tests/support/process.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char **argv)
{
    qvar_test::UseDesktopScreen();
    char config[] = "/tmp/qvar-config-XXXXXX";
    if (!mkdtemp(config)) {
        std::perror("test main: configuration folder");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", config, 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(config, ec);
    return result;
}
