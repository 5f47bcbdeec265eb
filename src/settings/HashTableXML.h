#pragma once

#include "settings/HashTable.h"

#include <cstdint>
#include <string>

namespace pagewren {

// The table with an XML form: a root element named CollectionName holding one element per key, in
// key order, whose text is the value.
//
// Values round-trip exactly: the text form escapes the five XML special characters and writes line
// breaks as character references (which also keeps the file on one line), and reading
// takes an entry's text as its characters, so an older file that holds references decodes them.
// An entry whose first child is markup keeps that markup as its value.
class THashStringTableXML : public THashStringTable {
public:
    // CollectionName "THashStringTable".
    THashStringTableXML();
    // CollectionName empty: the owner names the root before saving.
    explicit THashStringTableXML(std::int32_t Capacity);

    std::string CollectionName;

    // The one-line XML text: root start tag, the entries, root end tag, nothing in between.
    std::string ToXML() const;
    // Replaces all entries by those of XmlText (UTF-8 whatever its declaration says). Throws
    // Error("Could not load XML.  Are you sure it exists and is it well formed?") when it is not
    // well-formed XML, and the table is then empty.
    void LoadFromXML(const std::string& XmlText);
    // Replaces all entries by those of the file, whose encoding comes from its byte-order mark or
    // declaration (UTF-8 when it has neither). Throws the file-open error, or Error("Could not
    // load XML from file <FileName>.  Are you sure it exists and is it well formed?"); the entries
    // are then unchanged.
    void LoadFromFile(const std::string& FileName);
    // Writes the file form: one line of UTF-8 without byte-order mark or declaration, the root as
    // an empty-element tag when there are no entries. Returns true. Throws Error("File <FileName>
    // could not be saved.") when a key or the root name is no XML name (the file is not touched),
    // or the file-creation error. The file is replaced atomically.
    bool SaveToFile(const std::string& FileName) const;
};

} // namespace pagewren
