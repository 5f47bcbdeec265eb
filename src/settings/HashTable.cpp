#include "settings/HashTable.h"

namespace pagewren {

TIndex KeyIndex(const std::string& Key)
{
    return TIndex{1, 0, Key};
}

THashStringTable::THashStringTable() = default;

THashStringTable::THashStringTable(std::int32_t /*Capacity*/) {}

THashStringTable::~THashStringTable() = default;

void THashStringTable::Put(const std::string& Key, const std::string& Value)
{
    if (Key.empty() || Value.empty())
        return;
    m_map.insert_or_assign(Key, Value);
}

void THashStringTable::Put(const TIndex& Index, const std::string& Value)
{
    Put(Index.IndexKey, Value);
}

std::string THashStringTable::Get(const TIndex& Index) const
{
    const auto it = m_map.find(Index.IndexKey);
    return it == m_map.end() ? std::string() : it->second;
}

bool THashStringTable::ContainsKey(const std::string& Key) const
{
    return m_map.contains(Key);
}

TKeyList THashStringTable::GetKeys() const
{
    TKeyList keys;
    keys.reserve(m_map.size());
    for (const auto& entry : m_map)
        keys.push_back(entry.first);
    return keys;
}

void THashStringTable::Clear()
{
    m_map.clear();
}

} // namespace pagewren
