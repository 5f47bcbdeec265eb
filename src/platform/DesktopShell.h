#pragma once

#include "platform/Shell.h"

namespace pagewren {

// The freedesktop shell: the XDG trash, the file manager over D-Bus, xdg-open for the rest.
// Folder browsing needs a QApplication; everything else works without one.
class DesktopShell final : public Shell {
public:
    bool moveToTrash(const std::string& path) override;
    bool revealFile(const std::string& path) override;
    bool openFolder(const std::string& path) override;
    std::optional<std::string> browseForFolder(const std::string& title) override;
    bool showHelp(const std::string& path) override;
};

} // namespace pagewren
