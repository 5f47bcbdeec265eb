#pragma once

#include <cstdint>
#include <string>

namespace pagewren {

// A key handle: one of the predefined roots, or a key opened through a Registry.
enum class RegKey : std::uint64_t {
    ClassesRoot = 0x80000000,
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
    Users = 0x80000003,
    PerformanceData = 0x80000004,
    CurrentConfig = 0x80000005,
    DynData = 0x80000006,
};

// The kind of a value's data, numbered as in the Windows registry (REG_SZ is 1, ...). Any other
// number is a valid type too; its data is kept as bytes.
enum class RegType : std::uint32_t {
    None = 0,
    Sz = 1,       // text
    ExpandSz = 2, // text with %variables%
    Binary = 3,
    Dword = 4, // 32 bits, least significant byte first
    DwordBigEndian = 5,
    Link = 6,
    MultiSz = 7, // texts, each ended by a NUL, then one more NUL
    Qword = 11,
};

// What a registry call did. Failures are results, never exceptions.
enum class RegResult {
    Success,
    NotFound,      // no such key or value
    AccessDenied,  // a read-only root, or a handle opened without the right
    InvalidHandle, // not a root and not an open key
    InvalidName,   // a key path or value name the store cannot hold
    InvalidData,   // text data that is not UTF-8
    IoError,       // the store could not be read or written
};

// Access rights asked for when opening a key (the Windows bit values).
struct RegAccess {
    static constexpr std::uint32_t QueryValue = 0x0001;
    static constexpr std::uint32_t SetValue = 0x0002;
    static constexpr std::uint32_t CreateSubKey = 0x0004;
    static constexpr std::uint32_t EnumerateSubKeys = 0x0008;
    static constexpr std::uint32_t Notify = 0x0010;
    static constexpr std::uint32_t CreateLink = 0x0020;
};

// A small registry: keys form a tree under the predefined roots, paths are separated by "\", and
// key and value names compare without regard to ASCII letter case. Data is bytes; the data of
// the text types (Sz, ExpandSz, MultiSz) is UTF-8 text and holds a NUL only where the caller put
// one. The empty value name is the key's default value.
class Registry {
public:
    virtual ~Registry() = default;

    // Opens an existing key below parent (a root or an open key); "" opens parent itself.
    virtual RegResult openKey(RegKey parent, const std::string& path, std::uint32_t access,
                              RegKey& key) = 0;
    // Opens the key, creating it and any missing keys along the path first.
    virtual RegResult createKey(RegKey parent, const std::string& path, std::uint32_t access,
                                RegKey& key) = 0;
    // The type and data of a value of an open key.
    virtual RegResult queryValue(RegKey key, const std::string& name, RegType& type,
                                 std::string& data) = 0;
    virtual RegResult setValue(RegKey key, const std::string& name, RegType type,
                               const std::string& data) = 0;
    // Ends the use of a handle from openKey or createKey.
    virtual RegResult closeKey(RegKey key) = 0;
};

} // namespace pagewren
