#include "settings/RegistryStore.h"

#include "platform/Platform.h"
#include "platform/SpecialFolders.h"
#include "settings/FileLock.h"
#include "settings/RegFile.h"
#include "settings/SafeFile.h"
#include "util/Error.h"

#include <filesystem>
#include <system_error>

namespace pagewren {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t AllAccess = 0xFFFFFFFF;

bool exists(const std::string& path)
{
    std::error_code ignored;
    return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
}

} // namespace

RegistryStore::RegistryStore(const SpecialFolders& folders) : m_folders(folders) {}

RegistryStore::~RegistryStore() = default;

RegistryStore& RegistryStore::system()
{
    static RegistryStore store(Platform::system().folders);
    return store;
}

std::string RegistryStore::filePath() const
{
    return m_folders.settings() + "/registry.reg";
}

bool RegistryStore::resolve(RegKey handle, OpenKey& key) const
{
    if (*RegFile::rootName(handle)) {
        key = OpenKey{handle, {}, AllAccess};
        return true;
    }
    const auto it = m_open.find(handle);
    if (it == m_open.end())
        return false;
    key = it->second;
    return true;
}

RegKey RegistryStore::remember(OpenKey key)
{
    const auto handle = static_cast<RegKey>(m_nextHandle++);
    m_open.emplace(handle, std::move(key));
    return handle;
}

RegResult RegistryStore::read(RegFile& file) const
{
    const std::string path = filePath();
    file = RegFile();
    if (!exists(path))
        return RegResult::Success;
    std::string bytes;
    try {
        bytes = readWholeFile(path);
    } catch (const Error&) {
        return RegResult::IoError;
    }
    try {
        file = RegFile::parse(bytes);
    } catch (const Error&) {
        // Unreadable content holds no values; the next write keeps the file aside.
    }
    return RegResult::Success;
}

template <typename Change>
RegResult RegistryStore::update(Change change)
{
    const std::string path = filePath();
    std::error_code ignored; // a missing folder makes the lock fail below
    fs::create_directories(fs::path(path).parent_path(), ignored);
    const FileLock lock(path + ".lock");
    if (!lock.locked())
        return RegResult::IoError;

    RegFile file;
    if (exists(path)) {
        std::string bytes;
        try {
            bytes = readWholeFile(path);
        } catch (const Error&) {
            return RegResult::IoError; // never replace what could not be read
        }
        try {
            file = RegFile::parse(bytes);
        } catch (const Error&) {
            const std::string aside = keepAside(path);
            if (aside.empty())
                return RegResult::IoError;
            m_keptAsideFile = aside;
        }
    }
    if (!change(file))
        return RegResult::Success;
    try {
        writeFileAtomically(path, file.toText());
    } catch (const Error&) {
        return RegResult::IoError;
    }
    return RegResult::Success;
}

RegResult RegistryStore::subKey(RegKey parent, const std::string& path, std::uint32_t access,
                                OpenKey& opened) const
{
    if (!resolve(parent, opened))
        return RegResult::InvalidHandle;
    RegFile::Path tail;
    if (!RegFile::splitPath(path, tail))
        return RegResult::InvalidName;
    opened.path.insert(opened.path.end(), tail.begin(), tail.end());
    opened.access = access;
    return RegResult::Success;
}

RegResult RegistryStore::openKey(RegKey parent, const std::string& path, std::uint32_t access,
                                 RegKey& key)
{
    OpenKey opened;
    if (const auto result = subKey(parent, path, access, opened); result != RegResult::Success)
        return result;
    if (!opened.path.empty()) {
        if (opened.root != RegKey::CurrentUser)
            return RegResult::NotFound;
        RegFile file;
        if (const auto result = read(file); result != RegResult::Success)
            return result;
        if (!file.hasKey(opened.root, opened.path))
            return RegResult::NotFound;
    }
    key = remember(std::move(opened));
    return RegResult::Success;
}

RegResult RegistryStore::createKey(RegKey parent, const std::string& path, std::uint32_t access,
                                   RegKey& key)
{
    OpenKey opened;
    if (const auto result = subKey(parent, path, access, opened); result != RegResult::Success)
        return result;
    if (!opened.path.empty()) {
        if (opened.root != RegKey::CurrentUser)
            return RegResult::AccessDenied;
        const auto result =
            update([&](RegFile& file) { return file.addKey(opened.root, opened.path); });
        if (result != RegResult::Success)
            return result;
    }
    key = remember(std::move(opened));
    return RegResult::Success;
}

RegResult RegistryStore::queryValue(RegKey key, const std::string& name, RegType& type,
                                    std::string& data)
{
    OpenKey opened;
    if (!resolve(key, opened))
        return RegResult::InvalidHandle;
    if (!(opened.access & RegAccess::QueryValue))
        return RegResult::AccessDenied;
    if (opened.root != RegKey::CurrentUser)
        return RegResult::NotFound;
    RegFile file;
    if (const auto result = read(file); result != RegResult::Success)
        return result;
    const RegFile::Value* value = file.findValue(opened.root, opened.path, name);
    if (!value)
        return RegResult::NotFound;
    type = value->type;
    data = value->data;
    return RegResult::Success;
}

RegResult RegistryStore::setValue(RegKey key, const std::string& name, RegType type,
                                  const std::string& data)
{
    OpenKey opened;
    if (!resolve(key, opened))
        return RegResult::InvalidHandle;
    if (!(opened.access & RegAccess::SetValue) || opened.root != RegKey::CurrentUser)
        return RegResult::AccessDenied;
    if (!RegFile::validValueName(name))
        return RegResult::InvalidName;
    if (!RegFile::validData(type, data))
        return RegResult::InvalidData;
    return update([&](RegFile& file) {
        return file.setValue(opened.root, opened.path, RegFile::Value{name, type, data});
    });
}

RegResult RegistryStore::closeKey(RegKey key)
{
    if (*RegFile::rootName(key))
        return RegResult::Success;
    return m_open.erase(key) ? RegResult::Success : RegResult::InvalidHandle;
}

} // namespace pagewren
