#pragma once

#include "settings/Registry.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pagewren {

class RegFile;
class SpecialFolders;

// The registry of this user kept in one file in the regedit format, "registry.reg" in the
// settings folder. Only HKEY_CURRENT_USER can be written; the other roots are empty.
//
// Every call reads the file again, so running instances see each other's values. Writes hold a
// lock on "registry.reg.lock" from reading to replacing, and replace the file atomically; a write
// that changes nothing does not touch the file. A file that is not in the format is renamed
// aside by the next write rather than overwritten; until then it reads as empty.
class RegistryStore final : public Registry {
public:
    // The folders are borrowed; the settings folder is looked up on every call.
    explicit RegistryStore(const SpecialFolders& folders);
    ~RegistryStore() override;
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The store of the running system's user, for the whole process.
    static RegistryStore& system();

    std::string filePath() const;
    // Where the last malformed file was moved by this object; "" when none was.
    const std::string& keptAsideFile() const { return m_keptAsideFile; }

    RegResult openKey(RegKey parent, const std::string& path, std::uint32_t access,
                      RegKey& key) override;
    RegResult createKey(RegKey parent, const std::string& path, std::uint32_t access,
                        RegKey& key) override;
    RegResult queryValue(RegKey key, const std::string& name, RegType& type,
                         std::string& data) override;
    RegResult setValue(RegKey key, const std::string& name, RegType type,
                       const std::string& data) override;
    RegResult closeKey(RegKey key) override;

private:
    struct OpenKey {
        RegKey root;
        std::vector<std::string> path;
        std::uint32_t access;
    };
    // The root, path and rights of a handle; false when it is neither a root nor open.
    bool resolve(RegKey handle, OpenKey& key) const;
    // The key path under parent, with its access; not yet looked up in the file.
    RegResult subKey(RegKey parent, const std::string& path, std::uint32_t access,
                     OpenKey& opened) const;
    RegKey remember(OpenKey key);
    RegResult read(RegFile& file) const;
    // Runs change on the file under the lock and writes the file when change returns true.
    template <typename Change>
    RegResult update(Change change);

    const SpecialFolders& m_folders;
    std::map<RegKey, OpenKey> m_open;
    std::uint64_t m_nextHandle = 0x100000000; // above every root
    std::string m_keptAsideFile;
};

} // namespace pagewren
