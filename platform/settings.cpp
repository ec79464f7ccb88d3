// settings.cpp - the user's configuration folder and the few choices kept in
// it between runs.
//
// The file is read with the same care as any file named by a user: it may be
// a FIFO, a device or a link to /dev/zero, so it is opened without blocking,
// used only when it is a regular file, and read up to a bound. A file that
// cannot be understood costs the user a remembered choice, never the start.
//
// A save writes the whole file beside its name and renames it into place, so
// a full disk or a crash mid-write never leaves a half file that would lose
// the other choices.
#include "platform/settings.h"

#include "platform/files/files_internal.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

const char kFileName[] = "settings";
constexpr size_t kMaxFile = 4096;
const char kHeader[] = "# qvar-scope: choices kept between runs, one name=0 or name=1 per line\n";

std::string config_dir()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/qvar-scope";
    const std::string home = qvar::files::HomeDir();
    return home.empty() ? std::string() : home + "/.config/qvar-scope";
}

bool valid_name(const char *name)
{
    if (!name || !*name || std::strlen(name) > 64)
        return false;
    for (const char *c = name; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '-'))
            return false;
    return true;
}

// The file's text, "" for anything that is not a small regular file.
std::string read_file(const std::string &path)
{
    std::string text;
    qvar::files::ReadRegularFile(path.c_str(), kMaxFile, text);
    return text;
}

// name -> 0/1 for every line that reads "name=0" or "name=1".
std::map<std::string, int> parse(const std::string &text)
{
    std::map<std::string, int> choices;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq + 2 != line.size())
            continue;
        const std::string name = line.substr(0, eq);
        const char v = line[eq + 1];
        if (valid_name(name.c_str()) && (v == '0' || v == '1'))
            choices[name] = v - '0';
    }
    return choices;
}

// Not WriteWholeFile: that keeps a link under the name and writes the file it
// points to, while whatever stands under this name is replaced by our own.
bool replace_file(const std::string &dir, const std::string &text)
{
    const std::string path = dir + "/" + kFileName;
    std::string tmp = path + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        return false;
    ::fchmod(fd, 0644);
    const bool ok = qvar::files::WriteFully(fd, text.data(), text.size()) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
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

int GetUserChoice(const char *name, int fallback)
{
    const std::string dir = config_dir();
    if (dir.empty() || !valid_name(name))
        return fallback;
    const auto choices = parse(read_file(dir + "/" + kFileName));
    const auto it = choices.find(name);
    return it == choices.end() ? fallback : it->second;
}

int SetUserChoice(const char *name, int value)
{
    const std::string dir = config_dir();
    if (dir.empty() || !valid_name(name) || !qvar::files::MakeDirs(dir))
        return -1;
    auto choices = parse(read_file(dir + "/" + kFileName));
    choices[name] = value ? 1 : 0;
    std::string text = kHeader;
    for (const auto &[n, v] : choices)
        text += n + "=" + char('0' + v) + "\n";
    return replace_file(dir, text) ? 0 : -1;
}
