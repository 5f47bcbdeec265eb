#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pagewren {

// How a value of the table is addressed. Only IndexKind 1 (by key text) exists.
struct TIndex {
    std::uint8_t IndexKind = 1;
    std::int32_t IndexPos = 0; // not read by the table
    std::string IndexKey;
};

using TKeyList = std::vector<std::string>;

// The address of Key's value: IndexKind 1, IndexPos 0.
TIndex KeyIndex(const std::string& Key);

// Text values under exact, case-sensitive keys. An empty key or value is never stored, so no
// entry ever holds an empty value and storing "" never empties one. Keys are listed in ascending
// byte order ("B" before "a" before "b").
class THashStringTable {
public:
    THashStringTable();
    // The capacity only sized the original hash; any value is accepted and the table still
    // grows without limit.
    explicit THashStringTable(std::int32_t Capacity);
    virtual ~THashStringTable();

    THashStringTable(const THashStringTable&) = default;
    THashStringTable& operator=(const THashStringTable&) = default;
    THashStringTable(THashStringTable&&) = default;
    THashStringTable& operator=(THashStringTable&&) = default;

    void Put(const std::string& Key, const std::string& Value);
    void Put(const TIndex& Index, const std::string& Value);
    // The value under Index.IndexKey; "" when absent.
    std::string Get(const TIndex& Index) const;
    bool ContainsKey(const std::string& Key) const;
    TKeyList GetKeys() const;
    void Clear();

private:
    // std::string orders by unsigned bytes, which is the order GetKeys promises.
    std::map<std::string, std::string> m_map;
};

} // namespace pagewren
