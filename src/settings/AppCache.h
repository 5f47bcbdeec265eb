#pragma once

#include "settings/AppCacheBase.h"
#include "settings/HashTableXML.h"

#include <string>

namespace pagewren {

class SpecialFolders;

// The user's choices between runs, kept in "appcache.dat" in the settings folder as an XML file
// with the root AppCache. Flags are stored as "1" and "0". Storing "" never empties a setting.
//
// A settings file that cannot be read does not stop the program: it is renamed aside (see
// keptAsideFile) and the cache starts empty, so the user's file is never overwritten unread.
class TApplicationCache : public TApplicationCacheBase {
public:
    // The settings folder of the running system.
    TApplicationCache();
    // The folders are only read while constructing.
    explicit TApplicationCache(const SpecialFolders& folders);

    std::string ToXML() const override;
    // Writes CacheFile now, whatever changed; true when written. Throws the errors of
    // THashStringTableXML::SaveToFile.
    bool Save() override;

    std::string getVar(const std::string& Name) const;
    // Stores Value; with AutoSave on, saves when the value changed or Value is "". Save errors
    // leave here; the table keeps the new value either way.
    void setVar(const std::string& Name, const std::string& Value);
    bool getBool(const std::string& Name) const;
    void setBool(const std::string& Name, bool Value);

    bool getAutoScan() const;
    void setAutoScan(bool Value);
    std::string getDefaultDevice() const;
    void setDefaultDevice(const std::string& Value);
    bool getMinMsgDisplayed() const;
    void setMinMsgDisplayed(bool Value);
    std::string getOutputFolder() const;
    void setOutputFolder(const std::string& Value);
    std::string getSubPath() const;
    void setSubPath(const std::string& Value);

    // Where the unreadable settings file was moved at start, or "" when the file loaded (or did
    // not exist). loadError() is then the reason, ready to show to the user.
    const std::string& keptAsideFile() const { return m_keptAsideFile; }
    const std::string& loadError() const { return m_loadError; }

    // Full path of the settings file.
    const std::string CacheFile;
    // The root element's name, "AppCache".
    const std::string CollectionName = "AppCache";

protected:
    // Runs after every setVar that stored something or was given "": saves when AutoSave is on.
    void Changed();

private:
    THashStringTableXML Table{16};
    std::string m_keptAsideFile;
    std::string m_loadError;
};

} // namespace pagewren
