#include "settings/AppCache.h"

#include "platform/Platform.h"
#include "platform/SpecialFolders.h"
#include "settings/SafeFile.h"
#include "util/StrUtil.h"

#include <filesystem>
#include <system_error>

namespace pagewren {

namespace {

const std::string AutoScanKey = "auto_scan";
const std::string DefaultDeviceKey = "default_device";
const std::string MinMsgDisplayedKey = "min_msg_displayed";
const std::string OutputFolderKey = "output_folder";
const std::string SubPathKey = "sub_path";

} // namespace

TApplicationCache::TApplicationCache() : TApplicationCache(Platform::system().folders) {}

TApplicationCache::TApplicationCache(const SpecialFolders& folders)
    : CacheFile(folders.settings() + "/appcache.dat")
{
    namespace fs = std::filesystem;
    std::error_code ignored; // a missing folder shows up at the first save
    fs::create_directories(fs::path(CacheFile).parent_path(), ignored);
    Table.CollectionName = CollectionName;
    if (fs::symlink_status(CacheFile, ignored).type() == fs::file_type::not_found)
        return;
    try {
        Table.LoadFromFile(CacheFile);
    } catch (const std::exception& error) {
        m_loadError = error.what();
        m_keptAsideFile = keepAside(CacheFile);
    }
}

std::string TApplicationCache::ToXML() const
{
    return Table.ToXML();
}

bool TApplicationCache::Save()
{
    return Table.SaveToFile(CacheFile);
}

void TApplicationCache::Changed()
{
    if (AutoSave)
        Save();
}

std::string TApplicationCache::getVar(const std::string& Name) const
{
    return Table.ContainsKey(Name) ? Table.Get(KeyIndex(Name)) : std::string();
}

void TApplicationCache::setVar(const std::string& Name, const std::string& Value)
{
    if (Table.ContainsKey(Name)) {
        if (Table.Get(KeyIndex(Name)) == Value)
            return; // unchanged: the edits call this on every keystroke
        Table.Put(KeyIndex(Name), Value);
    } else {
        Table.Put(Name, Value);
    }
    Changed();
}

bool TApplicationCache::getBool(const std::string& Name) const
{
    return SameTrimmed(getVar(Name), "1");
}

void TApplicationCache::setBool(const std::string& Name, bool Value)
{
    setVar(Name, ChooseText(Value, "1", "0"));
}

bool TApplicationCache::getAutoScan() const
{
    return getBool(AutoScanKey);
}

void TApplicationCache::setAutoScan(bool Value)
{
    setBool(AutoScanKey, Value);
}

std::string TApplicationCache::getDefaultDevice() const
{
    return getVar(DefaultDeviceKey);
}

void TApplicationCache::setDefaultDevice(const std::string& Value)
{
    setVar(DefaultDeviceKey, Value);
}

bool TApplicationCache::getMinMsgDisplayed() const
{
    return getBool(MinMsgDisplayedKey);
}

void TApplicationCache::setMinMsgDisplayed(bool Value)
{
    setBool(MinMsgDisplayedKey, Value);
}

std::string TApplicationCache::getOutputFolder() const
{
    return getVar(OutputFolderKey);
}

void TApplicationCache::setOutputFolder(const std::string& Value)
{
    setVar(OutputFolderKey, Value);
}

std::string TApplicationCache::getSubPath() const
{
    return getVar(SubPathKey);
}

void TApplicationCache::setSubPath(const std::string& Value)
{
    setVar(SubPathKey, Value);
}

} // namespace pagewren
