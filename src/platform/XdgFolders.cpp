#include "platform/XdgFolders.h"

#include "platform/Environment.h"

#include <QDir>
#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

namespace pagewren {

namespace {

// An absolute path without trailing separators; "" for anything unusable, the root included.
std::string usableFolder(std::string path)
{
    if (path.empty() || path.front() != '/')
        return {};
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path == "/" ? std::string() : path;
}

} // namespace

XdgFolders::XdgFolders(const Environment& environment) : m_environment(environment) {}

std::string XdgFolders::home() const
{
    if (auto home = usableFolder(m_environment.variable("HOME")); !home.empty())
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        if (auto home = usableFolder(entry->pw_dir); !home.empty())
            return home;
    }
    return temp();
}

std::string XdgFolders::desktop() const
{
    // Qt reads user-dirs.dirs from XDG_CONFIG_HOME and falls back to $HOME/Desktop.
    const auto location = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (auto desktop = usableFolder(QDir::cleanPath(location).toStdString()); !desktop.empty())
        return desktop;
    return home() + "/Desktop";
}

std::string XdgFolders::temp() const
{
    if (auto temp = usableFolder(m_environment.variable("TMPDIR")); !temp.empty())
        return temp;
    return "/tmp";
}

std::string XdgFolders::settings() const
{
    auto config = usableFolder(m_environment.variable("XDG_CONFIG_HOME"));
    if (config.empty())
        config = home() + "/.config";
    return config + "/pagewren";
}

} // namespace pagewren
