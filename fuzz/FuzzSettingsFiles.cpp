// Feeds arbitrary bytes to the two settings readers: the XML form of the string table and the
// registry store's text format. Whatever one of them accepts must survive being written and read
// back unchanged.
//
//   make fuzz && build-fuzz/fuzz/fuzz_settings_files -max_len=4096 corpus

#include "settings/HashTableXML.h"
#include "settings/RegFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace pagewren;

void checkTable(const std::string& text)
{
    THashStringTableXML table;
    try {
        table.LoadFromXML(text);
    } catch (const std::exception&) {
        return;
    }
    THashStringTableXML again;
    again.LoadFromXML(table.ToXML());
    if (again.GetKeys() != table.GetKeys())
        std::abort();
    for (const auto& key : table.GetKeys()) {
        if (again.Get(KeyIndex(key)) != table.Get(KeyIndex(key)))
            std::abort();
    }
}

void checkRegistry(const std::string& bytes)
{
    RegFile file;
    try {
        file = RegFile::parse(bytes);
    } catch (const std::exception&) {
        return;
    }
    const std::string text = file.toText();
    if (RegFile::parse(text).toText() != text)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the reader, so one corpus serves both.
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1)
        checkRegistry(bytes);
    else
        checkTable(bytes);
    return 0;
}
