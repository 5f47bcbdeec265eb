#include "settings/HashTableXML.h"

#include "util/Error.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using test::HomeTest;
using test::readFile;
using test::writeFile;
using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string LoadTextError =
    "Could not load XML.  Are you sure it exists and is it well formed?";

std::string loadFileError(const std::string& name)
{
    return "Could not load XML from file " + name +
           ".  Are you sure it exists and is it well formed?";
}

Entries entriesOf(const THashStringTable& table)
{
    Entries entries;
    for (const auto& key : table.GetKeys())
        entries.emplace_back(key, table.Get(KeyIndex(key)));
    return entries;
}

THashStringTableXML tableWith(const Entries& entries, const std::string& root = "AppCache")
{
    THashStringTableXML table;
    table.CollectionName = root;
    for (const auto& [key, value] : entries)
        table.Put(key, value);
    return table;
}

// The message of the Error the call throws; "" when it throws none.
template <typename Call>
std::string errorOf(Call call)
{
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return {};
}

TEST(HashTableXML, ConstructorsNameTheRoot)
{
    EXPECT_EQ(THashStringTableXML().CollectionName, "THashStringTable");
    EXPECT_EQ(THashStringTableXML(16).CollectionName, "");
}

TEST(HashTableXML, TextFormIsOneLineInKeyOrder)
{
    EXPECT_EQ(tableWith({}).ToXML(), "<AppCache></AppCache>");
    EXPECT_EQ(tableWith({{"sub_path", "job7"}, {"auto_scan", "1"}}).ToXML(),
              "<AppCache><auto_scan>1</auto_scan><sub_path>job7</sub_path></AppCache>");
}

class HashTableXMLFile : public HomeTest {
protected:
    std::string file = (home.work() / "settings.xml").string();
};

TEST_F(HashTableXMLFile, FileFormIsExact)
{
    struct Case {
        const char* what;
        Entries entries;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty table", {}, "<AppCache/>"},
        {"one entry", {{"sub_path", "job7"}}, "<AppCache><sub_path>job7</sub_path></AppCache>"},
        {"key order",
         {{"sub_path", "job7"}, {"auto_scan", "1"}, {"Z", "z"}},
         "<AppCache><Z>z</Z><auto_scan>1</auto_scan><sub_path>job7</sub_path></AppCache>"},
        {"the five characters",
         {{"v", "\"&'<>"}},
         "<AppCache><v>&quot;&amp;&apos;&lt;&gt;</v></AppCache>"},
        {"line breaks stay on the one line",
         {{"v", "a\r\nb"}},
         "<AppCache><v>a&#13;&#10;b</v></AppCache>"},
        {"UTF-8 without byte-order mark",
         {{"output_folder", "/home/J\xc3\xbcrgen/PDF"}},
         "<AppCache><output_folder>/home/J\xc3\xbcrgen/PDF</output_folder></AppCache>"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(tableWith(c.entries).SaveToFile(file)) << c.what;
        EXPECT_EQ(readFile(file), c.bytes) << c.what;
    }
}

TEST_F(HashTableXMLFile, ValuesRoundTripExactly)
{
    const std::vector<std::string> values = {
        "O'Neil",
        "A & B",
        "say \"cheese\"",
        "a < b > c",
        "<b>markup-looking</b>",
        "&amp; already looks escaped",
        "&#65;",
        "]]>",
        "  padded\t",
        "two\nlines\r\nand a\rreturn",
        "/home/J\xc3\xbcrgen/\xe2\x82\xac/\xf0\x9f\x93\x84",
    };
    for (const auto& value : values) {
        const auto saved = tableWith({{"output_folder", value}});
        saved.SaveToFile(file);
        THashStringTableXML fromFile;
        fromFile.LoadFromFile(file);
        EXPECT_EQ(fromFile.Get(KeyIndex("output_folder")), value) << "through the file";

        THashStringTableXML fromText;
        fromText.LoadFromXML(saved.ToXML());
        EXPECT_EQ(fromText.Get(KeyIndex("output_folder")), value) << "through the text";
    }
}

TEST_F(HashTableXMLFile, ReadsFilesWrittenByOthers)
{
    struct Case {
        const char* what;
        std::string bytes;
        Entries entries;
    };
    const Case cases[] = {
        {"indented lines",
         "<AppCache>\n  <auto_scan>1</auto_scan>\n\t<sub_path>job7</sub_path>\n</AppCache>\n",
         {{"auto_scan", "1"}, {"sub_path", "job7"}}},
        {"comments and processing instructions",
         "<!-- top --><AppCache><!-- c --><?pi data?><a>1</a></AppCache>",
         {{"a", "1"}}},
        {"the later of two elements wins", "<AppCache><a>1</a><a>2</a></AppCache>", {{"a", "2"}}},
        {"a root of another name and attributes",
         "<Other version=\"2\"><a>1</a></Other>",
         {{"a", "1"}}},
        {"empty elements make no entry", "<AppCache><a/><b></b><c>3</c></AppCache>", {{"c", "3"}}},
        {"blanks are a value", "<AppCache><a> </a></AppCache>", {{"a", " "}}},
        {"byte-order mark", "\xEF\xBB\xBF<AppCache><a>1</a></AppCache>", {{"a", "1"}}},
        {"declaration",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<AppCache><a>1</a></AppCache>",
         {{"a", "1"}}},
        {"Latin-1 by declaration",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><AppCache><a>J\xfcrgen</a></AppCache>",
         {{"a", "J\xc3\xbcrgen"}}},
        {"references written unescaped by older versions decode",
         "<AppCache><a>O&apos;Neil &amp; &#65;&#x42;</a></AppCache>",
         {{"a", "O'Neil & AB"}}},
        {"CDATA is text", "<AppCache><a>x<![CDATA[<&>]]>y</a></AppCache>", {{"a", "x<&>y"}}},
        {"an element child is read as its markup",
         "<AppCache><a><b x=\"1\">t</b>ignored</a></AppCache>",
         {{"a", "<b x=\"1\">t</b>"}}},
        {"a comment child is read as its markup",
         "<AppCache><a><!--c-->t</a></AppCache>",
         {{"a", "<!--c-->"}}},
        {"entities of the internal subset",
         "<!DOCTYPE AppCache [<!ENTITY co \"Tallowmere\">]><AppCache><a>&co; Ltd</a></AppCache>",
         {{"a", "Tallowmere Ltd"}}},
        {"external entities are never fetched",
         "<!DOCTYPE AppCache [<!ENTITY x SYSTEM \"secret.txt\">]><AppCache><a>&x;</a></AppCache>",
         {}},
    };
    writeFile(home.work() / "secret.txt", "secret");
    for (const auto& c : cases) {
        writeFile(file, c.bytes);
        THashStringTableXML table(16);
        table.CollectionName = "Mine";
        table.LoadFromFile(file);
        EXPECT_EQ(entriesOf(table), c.entries) << c.what;
        EXPECT_EQ(table.CollectionName, "Mine") << c.what;
    }
}

TEST_F(HashTableXMLFile, ReadsUtf16Files)
{
    writeFile(home.work() / "utf8.xml", "<AppCache><a>J\xc3\xbcrgen \xe2\x82\xac</a></AppCache>");
    ASSERT_EQ(test::runCommand("iconv -f UTF-8 -t UTF-16 utf8.xml > utf16.xml"), 0);
    ASSERT_TRUE(readFile(home.work() / "utf16.xml").starts_with("\xFF\xFE"));
    THashStringTableXML table;
    table.LoadFromFile("utf16.xml");
    EXPECT_EQ(table.Get(KeyIndex("a")), "J\xc3\xbcrgen \xe2\x82\xac");
}

// What XML 1.0 rejects, each with a good entry before the fault.
const std::vector<std::pair<const char*, std::string>> NotWellFormed = {
    {"bare ampersand", "<AppCache><a>1</a><b>A & B</b></AppCache>"},
    {"bare less-than", "<AppCache><a>1</a><b>a < b</b></AppCache>"},
    {"undeclared entity", "<AppCache><a>1</a><b>&nbsp;</b></AppCache>"},
    {"two roots", "<AppCache><a>1</a></AppCache><AppCache/>"},
    {"text after the root", "<AppCache><a>1</a></AppCache>junk"},
    {"truncated", "<AppCache><a>1</a><b>2</b></AppCa"},
    {"mismatched tags", "<AppCache><a>1</a><b>2</c></AppCache>"},
    {"name starting with a digit", "<AppCache><a>1</a><1b>2</1b></AppCache>"},
    {"control character", "<AppCache><a>1</a><b>\x01</b></AppCache>"},
    {"not UTF-8", "<AppCache><a>1</a><b>J\xfcrgen</b></AppCache>"},
    {"empty", ""},
    {"only text", "a=1"},
    {"entity expansion bomb",
     "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
     "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
     "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
     "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
     "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]><r><a>&i;</a></r>"},
};

TEST(HashTableXML, LoadFromXMLRejectsWhatXmlRejectsAndEmptiesTheTable)
{
    for (const auto& [what, text] : NotWellFormed) {
        auto table = tableWith({{"kept", "no"}});
        EXPECT_EQ(errorOf([&] { table.LoadFromXML(text); }), LoadTextError) << what;
        EXPECT_TRUE(table.GetKeys().empty()) << what;
    }
}

TEST_F(HashTableXMLFile, LoadFromFileRejectsWhatXmlRejectsAndKeepsTheEntries)
{
    for (const auto& [what, text] : NotWellFormed) {
        writeFile(file, text);
        auto table = tableWith({{"kept", "yes"}});
        EXPECT_EQ(errorOf([&] { table.LoadFromFile(file); }), loadFileError(file)) << what;
        EXPECT_EQ(entriesOf(table), (Entries{{"kept", "yes"}})) << what;
    }
}

TEST_F(HashTableXMLFile, LoadFromXMLReplacesAllEntries)
{
    auto table = tableWith({{"old", "1"}, {"a", "old"}});
    table.LoadFromXML("<x><a>new</a><b>2</b></x>");
    EXPECT_EQ(entriesOf(table), (Entries{{"a", "new"}, {"b", "2"}}));
    EXPECT_EQ(table.CollectionName, "AppCache");
}

TEST_F(HashTableXMLFile, MissingFileFailsWithTheOpenError)
{
    auto table = tableWith({{"kept", "yes"}});
    const std::string message = errorOf([&] { table.LoadFromFile(file); });
    EXPECT_TRUE(message.starts_with("Cannot open file \"" + file + "\".")) << message;
    EXPECT_EQ(entriesOf(table), (Entries{{"kept", "yes"}}));
}

TEST_F(HashTableXMLFile, MalformedTextIsNotSavedAndTheFileKept)
{
    struct Case {
        const char* what;
        Entries entries;
        std::string root;
    };
    const Case cases[] = {
        {"key with a blank", {{"a b", "1"}}, "AppCache"},
        {"key starting with a digit", {{"1a", "1"}}, "AppCache"},
        {"key with markup", {{"a><b", "1"}}, "AppCache"},
        {"empty root name", {{"a", "1"}}, ""},
        {"empty root name, empty table", {}, ""},
        {"character XML cannot hold", {{"a", "bell\x07"}}, "AppCache"},
        {"value that is not UTF-8", {{"a", "J\xfcrgen"}}, "AppCache"},
    };
    const std::string previous = "<AppCache><a>previous</a></AppCache>";
    for (const auto& c : cases) {
        writeFile(file, previous);
        const auto table = tableWith(c.entries, c.root);
        EXPECT_EQ(errorOf([&] { table.SaveToFile(file); }), "File " + file + " could not be saved.")
            << c.what;
        EXPECT_EQ(readFile(file), previous) << c.what;
    }
}

TEST_F(HashTableXMLFile, SavingIntoAMissingFolderFails)
{
    const std::string missing = (home.work() / "no such folder" / "settings.xml").string();
    const std::string message = errorOf([&] { tableWith({{"a", "1"}}).SaveToFile(missing); });
    EXPECT_TRUE(message.starts_with("Cannot create file \"" + missing + "\".")) << message;
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(HashTableXMLFile, ReadOnlyFileIsNotReplaced)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    const std::string previous = "<AppCache><a>previous</a></AppCache>";
    writeFile(file, previous);
    fs::permissions(file, fs::perms::owner_read, fs::perm_options::replace);
    const std::string message = errorOf([&] { tableWith({{"a", "new"}}).SaveToFile(file); });
    EXPECT_TRUE(message.starts_with("Cannot create file \"" + file + "\".")) << message;
    EXPECT_EQ(readFile(file), previous);
}

TEST_F(HashTableXMLFile, SavingLeavesNoTemporaryFiles)
{
    tableWith({{"a", "1"}}).SaveToFile(file);
    tableWith({{"a", "2"}}).SaveToFile(file);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(home.work()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"settings.xml"});
}

} // namespace
} // namespace pagewren
