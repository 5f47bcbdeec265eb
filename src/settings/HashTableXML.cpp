#include "settings/HashTableXML.h"

#include "settings/SafeFile.h"
#include "util/Error.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <memory>

namespace pagewren {

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct ContextFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct BufferFree {
    void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};
struct CharsFree {
    void operator()(xmlChar* chars) const { xmlFree(chars); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

const char* chars(const xmlChar* text)
{
    return reinterpret_cast<const char*>(text);
}

std::string takeString(xmlChar* text)
{
    const std::unique_ptr<xmlChar, CharsFree> owner(text);
    return text ? std::string(chars(text)) : std::string();
}

// Parses a whole document; nullptr when it is not well-formed. No network, no external DTD or
// entity is ever loaded, and libxml2's limits on entity expansion stay on.
Doc parse(const std::string& bytes, const char* forcedEncoding)
{
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        return nullptr;
    xmlInitParser();
    const std::unique_ptr<xmlParserCtxt, ContextFree> context(xmlNewParserCtxt());
    if (!context)
        throw std::bad_alloc();
    Doc doc(xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr,
                              forcedEncoding,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!context->wellFormed || !doc || !xmlDocGetRootElement(doc.get()))
        return nullptr;
    return doc;
}

bool isCharacterData(const xmlNode* node)
{
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
           node->type == XML_ENTITY_REF_NODE;
}

std::string qualifiedName(const xmlNode* element)
{
    std::string name;
    if (element->ns && element->ns->prefix)
        name = std::string(chars(element->ns->prefix)) + ":";
    return name + chars(element->name);
}

// An entry's value: the characters of its leading text (references decoded), or the markup of
// its first child when that is not text.
std::string entryValue(xmlDoc* doc, xmlNode* first)
{
    if (!isCharacterData(first)) {
        const std::unique_ptr<xmlBuffer, BufferFree> buffer(xmlBufferCreate());
        if (!buffer)
            throw std::bad_alloc();
        xmlNodeDump(buffer.get(), doc, first, 0, 0);
        return std::string(chars(xmlBufferContent(buffer.get())),
                           static_cast<std::size_t>(xmlBufferLength(buffer.get())));
    }
    std::string value;
    for (xmlNode* node = first; node && isCharacterData(node); node = node->next)
        value += takeString(xmlNodeGetContent(node));
    return value;
}

THashStringTable entriesOf(xmlDoc* doc)
{
    THashStringTable table;
    for (xmlNode* node = xmlDocGetRootElement(doc)->children; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE && node->children)
            table.Put(qualifiedName(node), entryValue(doc, node->children));
    }
    return table;
}

std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        // Parsers turn line breaks into "\n"; references keep them exact and the file one line.
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += "&#10;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

THashStringTableXML::THashStringTableXML() : CollectionName("THashStringTable") {}

THashStringTableXML::THashStringTableXML(std::int32_t Capacity) : THashStringTable(Capacity) {}

std::string THashStringTableXML::ToXML() const
{
    std::string xml = "<" + CollectionName + ">";
    for (const auto& key : GetKeys())
        xml += "<" + key + ">" + escaped(Get(KeyIndex(key))) + "</" + key + ">";
    return xml + "</" + CollectionName + ">";
}

void THashStringTableXML::LoadFromXML(const std::string& XmlText)
{
    Clear();
    const Doc doc = parse(XmlText, "UTF-8");
    if (!doc)
        throw Error("Could not load XML.  Are you sure it exists and is it well formed?");
    static_cast<THashStringTable&>(*this) = entriesOf(doc.get());
}

void THashStringTableXML::LoadFromFile(const std::string& FileName)
{
    const Doc doc = parse(readWholeFile(FileName), nullptr);
    if (!doc)
        throw Error("Could not load XML from file " + FileName +
                    ".  Are you sure it exists and is it well formed?");
    static_cast<THashStringTable&>(*this) = entriesOf(doc.get());
}

bool THashStringTableXML::SaveToFile(const std::string& FileName) const
{
    std::string text = ToXML();
    // The text is only malformed when a key or the root name is no XML name, or a value holds
    // characters XML cannot carry; the parser is the judge.
    if (!parse(text, "UTF-8"))
        throw Error("File " + FileName + " could not be saved.");
    if (GetKeys().empty())
        text = "<" + CollectionName + "/>";
    writeFileAtomically(FileName, text);
    return true;
}

} // namespace pagewren
