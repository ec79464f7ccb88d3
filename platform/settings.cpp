// settings.cpp - the user's configuration folder.
#include "platform/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string config_dir()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/qvar-scope";
    std::string home;
    if (const char *h = std::getenv("HOME"); h && h[0] == '/') {
        home = h;
    } else {
        // No usable HOME (a service, sudo -i, env -i): the password
        // database still knows the user's home.
        struct passwd pw, *found = nullptr;
        char buf[4096];
        if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir &&
            found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    return home.empty() ? std::string() : home + "/.config/qvar-scope";
}

} // namespace

int UserConfigDir(char *buffer, int size)
{
    const std::string dir = config_dir();
    if (dir.empty() || !buffer || size <= 0 || dir.size() >= size_t(size))
        return -1;
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return int(dir.size());
}
