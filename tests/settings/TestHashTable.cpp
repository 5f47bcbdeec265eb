#include "settings/HashTable.h"

#include <gtest/gtest.h>

#include <string>

namespace pagewren {
namespace {

TEST(HashTable, EmptyKeyOrValueIsNeverStored)
{
    THashStringTable table;
    table.Put("a", "");
    table.Put("", "x");
    EXPECT_FALSE(table.ContainsKey("a"));
    EXPECT_FALSE(table.ContainsKey(""));
    EXPECT_TRUE(table.GetKeys().empty());

    table.Put("a", "x");
    table.Put("a", "");
    table.Put(KeyIndex("a"), "");
    EXPECT_EQ(table.Get(KeyIndex("a")), "x");
}

TEST(HashTable, KeysAreExactAndListedInByteOrder)
{
    THashStringTable table;
    for (const char* key : {"b", "B", "a", "\xc3\xa9", "a b", "A"})
        table.Put(key, std::string("value of ") + key);
    table.Put(KeyIndex("b"), "second b");

    EXPECT_EQ(table.GetKeys(), (TKeyList{"A", "B", "a", "a b", "b", "\xc3\xa9"}));
    EXPECT_EQ(table.Get(KeyIndex("b")), "second b");
    EXPECT_EQ(table.Get(KeyIndex("B")), "value of B");
    EXPECT_EQ(table.Get(KeyIndex("c")), "");
    EXPECT_FALSE(table.ContainsKey("a "));

    table.Clear();
    EXPECT_TRUE(table.GetKeys().empty());
    EXPECT_FALSE(table.ContainsKey("a"));
}

TEST(HashTable, KeyIndexAddressesByKeyText)
{
    const TIndex index = KeyIndex("sub_path");
    EXPECT_EQ(index.IndexKind, 1);
    EXPECT_EQ(index.IndexPos, 0);
    EXPECT_EQ(index.IndexKey, "sub_path");
}

TEST(HashTable, CapacityDoesNotLimitTheTable)
{
    for (const std::int32_t capacity : {-1, 0, 1, 16}) {
        THashStringTable table(capacity);
        for (int i = 0; i < 100; ++i)
            table.Put("key" + std::to_string(i), "v");
        EXPECT_EQ(table.GetKeys().size(), 100u) << "capacity " << capacity;
    }
}

} // namespace
} // namespace pagewren
