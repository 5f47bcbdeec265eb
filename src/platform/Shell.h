#pragma once

#include <optional>
#include <string>

namespace pagewren {

// The desktop shell: trash, file manager, browser.
class Shell {
public:
    virtual ~Shell() = default;

    // Moves a file or folder with its contents to the user's trash. False when nothing was moved.
    virtual bool moveToTrash(const std::string& path) = 0;
    // Shows the file selected in the file manager, or at least opens its folder.
    virtual bool revealFile(const std::string& path) = 0;
    // Opens a folder in the file manager.
    virtual bool openFolder(const std::string& path) = 0;
    // Lets the user pick a folder; nothing when the user cancels. Modal.
    virtual std::optional<std::string> browseForFolder(const std::string& title) = 0;
    // Opens a help document in the user's viewer.
    virtual bool showHelp(const std::string& path) = 0;
};

} // namespace pagewren
