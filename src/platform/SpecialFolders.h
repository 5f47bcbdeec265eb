#pragma once

#include <string>

namespace pagewren {

// Well-known folders of the current user. Paths are absolute and never end in a separator.
class SpecialFolders {
public:
    virtual ~SpecialFolders() = default;

    // The file-system folder of the user's desktop.
    virtual std::string desktop() const = 0;
    // The folder for temporary files; never the root of the file system.
    virtual std::string temp() const = 0;
    // The folder that holds this program's settings files.
    virtual std::string settings() const = 0;
    // The user's home folder.
    virtual std::string home() const = 0;
};

} // namespace pagewren
