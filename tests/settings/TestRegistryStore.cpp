#include "settings/RegistryStore.h"

#include "platform/SystemEnvironment.h"
#include "platform/XdgFolders.h"
#include "settings/RegFile.h"

#include "TestHome.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::readFile;
using test::writeFile;

const std::string Product = "Software\\Tallowmere\\Pagewren";
constexpr std::uint32_t QueryOnly = RegAccess::QueryValue;
constexpr std::uint32_t ReadWrite = RegAccess::QueryValue | RegAccess::SetValue;

class RegistryStoreTest : public test::HomeTest {
protected:
    SystemEnvironment environment;
    XdgFolders folders{environment};
    RegistryStore store{folders};
    fs::path file = home.config() / "pagewren" / "registry.reg";

    RegKey create(RegistryStore& registry, const std::string& path)
    {
        RegKey key{};
        EXPECT_EQ(registry.createKey(RegKey::CurrentUser, path, ReadWrite, key),
                  RegResult::Success);
        return key;
    }
    RegKey create(const std::string& path = Product) { return create(store, path); }

    // A comment our writer would drop: while it stays, the file was not written again.
    void markFile() { writeFile(file, readFile(file) + "; untouched\n"); }
    bool marked() { return readFile(file).ends_with("; untouched\n"); }
};

TEST_F(RegistryStoreTest, CreatingAKeyMakesItsParentsOnce)
{
    RegKey key{};
    EXPECT_EQ(store.openKey(RegKey::CurrentUser, Product, QueryOnly, key), RegResult::NotFound);
    EXPECT_FALSE(fs::exists(file));

    EXPECT_EQ(store.filePath(), file.string());
    ASSERT_EQ(store.createKey(RegKey::CurrentUser, Product, 0x3F, key), RegResult::Success);
    EXPECT_EQ(readFile(file), "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_CURRENT_USER\\Software]\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Tallowmere]\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Tallowmere\\Pagewren]\n\n");
    EXPECT_EQ(store.closeKey(key), RegResult::Success);

    markFile();
    ASSERT_EQ(store.createKey(RegKey::CurrentUser, "SOFTWARE\\tallowmere", 0x3F, key),
              RegResult::Success);
    EXPECT_TRUE(marked());
    RegKey child{};
    EXPECT_EQ(store.openKey(key, "Pagewren", QueryOnly, child), RegResult::Success);
    EXPECT_EQ(store.closeKey(child), RegResult::Success);
    EXPECT_EQ(store.closeKey(key), RegResult::Success);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirTypeAndBytes)
{
    struct Case {
        const char* name;
        RegType type;
        std::string data;
    };
    const Case cases[] = {
        {"util_Left", RegType::Sz, "-5"},
        {"empty", RegType::Sz, ""},
        {"", RegType::Sz, "default value"},
        {"with NUL", RegType::Sz, "120\0"s},
        {"lines", RegType::Sz, "a\r\nb\t\"c\"\\"},
        {"unicode", RegType::Sz, "J\xc3\xbcrgen \xf0\x9f\x93\x84"},
        {"expand", RegType::ExpandSz, "%HOME%\\x\0"s},
        {"multi", RegType::MultiSz, "a\0b\0\0"s},
        {"binary", RegType::Binary, "\0\xff\x10\x80"s},
        {"dword", RegType::Dword, "\xfb\xff\xff\xff"},
        {"qword", RegType::Qword, "\1\2\3\4\5\6\7\x08"},
        {"odd type", static_cast<RegType>(0x1234), "raw"},
    };
    const RegKey key = create();
    for (const auto& c : cases)
        ASSERT_EQ(store.setValue(key, c.name, c.type, c.data), RegResult::Success) << c.name;

    // A second store reads only what the file holds.
    RegistryStore other(folders);
    RegKey otherKey{};
    ASSERT_EQ(other.openKey(RegKey::CurrentUser, Product, QueryOnly, otherKey), RegResult::Success);
    for (const auto& c : cases) {
        RegType type{};
        std::string data;
        ASSERT_EQ(other.queryValue(otherKey, c.name, type, data), RegResult::Success) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
    EXPECT_NE(readFile(file).find("\"util_Left\"=\"-5\"\n"), std::string::npos);
}

TEST_F(RegistryStoreTest, UnchangedWritesLeaveTheFileAlone)
{
    const RegKey key = create();
    ASSERT_EQ(store.setValue(key, "util_Left", RegType::Sz, "200"), RegResult::Success);
    struct Case {
        const char* name;
        RegType type;
        const char* data;
        bool writes;
    };
    const Case cases[] = {
        {"util_Left", RegType::Sz, "200", false}, {"UTIL_LEFT", RegType::Sz, "200", false},
        {"util_Left", RegType::Sz, "201", true},  {"util_Left", RegType::ExpandSz, "201", true},
        {"util_Top", RegType::Sz, "200", true},
    };
    for (const auto& c : cases) {
        markFile();
        EXPECT_EQ(store.setValue(key, c.name, c.type, c.data), RegResult::Success);
        EXPECT_EQ(!marked(), c.writes) << c.name << " = " << c.data;
    }
}

TEST_F(RegistryStoreTest, OtherRootsAreReadOnlyAndEmpty)
{
    writeFile(file, "Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\"a\"=\"1\"\n");
    const std::string before = readFile(file);
    for (const RegKey root : {RegKey::ClassesRoot, RegKey::LocalMachine, RegKey::Users,
                              RegKey::PerformanceData, RegKey::CurrentConfig, RegKey::DynData}) {
        const std::string name = RegFile::rootName(root);
        RegKey key{};
        EXPECT_EQ(store.createKey(root, "Software\\Vendor", 0x3F, key), RegResult::AccessDenied)
            << name;
        EXPECT_EQ(store.openKey(root, "Software\\Vendor", QueryOnly, key), RegResult::NotFound)
            << name;
        ASSERT_EQ(store.openKey(root, "", ReadWrite, key), RegResult::Success) << name;
        RegType type{};
        std::string data;
        EXPECT_EQ(store.queryValue(key, "a", type, data), RegResult::NotFound) << name;
        EXPECT_EQ(store.setValue(key, "a", RegType::Sz, "2"), RegResult::AccessDenied) << name;
        EXPECT_EQ(store.setValue(root, "a", RegType::Sz, "2"), RegResult::AccessDenied) << name;
        EXPECT_EQ(store.closeKey(key), RegResult::Success) << name;
    }
    EXPECT_EQ(readFile(file), before);
}

TEST_F(RegistryStoreTest, HandlesCarryTheirRights)
{
    create();
    RegKey queryOnly{};
    RegKey setOnly{};
    ASSERT_EQ(store.openKey(RegKey::CurrentUser, Product, QueryOnly, queryOnly),
              RegResult::Success);
    ASSERT_EQ(store.openKey(RegKey::CurrentUser, Product, RegAccess::SetValue, setOnly),
              RegResult::Success);
    RegType type{};
    std::string data;
    EXPECT_EQ(store.setValue(queryOnly, "a", RegType::Sz, "1"), RegResult::AccessDenied);
    EXPECT_EQ(store.setValue(setOnly, "a", RegType::Sz, "1"), RegResult::Success);
    EXPECT_EQ(store.queryValue(setOnly, "a", type, data), RegResult::AccessDenied);
    EXPECT_EQ(store.queryValue(queryOnly, "a", type, data), RegResult::Success);

    EXPECT_EQ(store.closeKey(queryOnly), RegResult::Success);
    EXPECT_EQ(store.closeKey(queryOnly), RegResult::InvalidHandle);
    EXPECT_EQ(store.queryValue(queryOnly, "a", type, data), RegResult::InvalidHandle);
    EXPECT_EQ(store.setValue(queryOnly, "a", RegType::Sz, "2"), RegResult::InvalidHandle);
    EXPECT_EQ(store.openKey(queryOnly, "", QueryOnly, setOnly), RegResult::InvalidHandle);
    EXPECT_EQ(store.queryValue(static_cast<RegKey>(12345), "a", type, data),
              RegResult::InvalidHandle);
}

TEST_F(RegistryStoreTest, NamesAndDataTheStoreCannotHoldAreRefused)
{
    const RegKey key = create();
    const std::string before = readFile(file);
    for (const std::string path : {"a\\\\b", "\\a", "a\\", "a\nb", "J\xfcrgen"}) {
        RegKey other{};
        EXPECT_EQ(store.createKey(RegKey::CurrentUser, path, ReadWrite, other),
                  RegResult::InvalidName)
            << path;
        EXPECT_EQ(store.openKey(RegKey::CurrentUser, path, ReadWrite, other),
                  RegResult::InvalidName)
            << path;
    }
    EXPECT_EQ(store.setValue(key, "a\nb", RegType::Sz, "1"), RegResult::InvalidName);
    EXPECT_EQ(store.setValue(key, "a", RegType::Sz, "J\xfcrgen"), RegResult::InvalidData);
    EXPECT_EQ(store.setValue(key, "a", RegType::MultiSz, "\xff\0"s), RegResult::InvalidData);
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(store.setValue(key, "a", RegType::Binary, "J\xfcrgen"), RegResult::Success);
}

TEST_F(RegistryStoreTest, EveryCallReadsTheFile)
{
    RegistryStore first(folders);
    RegistryStore second(folders);
    const RegKey writer = create(second, Product);
    RegKey reader{};
    ASSERT_EQ(first.openKey(RegKey::CurrentUser, Product, QueryOnly, reader), RegResult::Success);
    RegType type{};
    std::string data;
    EXPECT_EQ(first.queryValue(reader, "util_Left", type, data), RegResult::NotFound);
    for (const char* value : {"10", "20"}) {
        ASSERT_EQ(second.setValue(writer, "util_Left", RegType::Sz, value), RegResult::Success);
        ASSERT_EQ(first.queryValue(reader, "util_Left", type, data), RegResult::Success);
        EXPECT_EQ(data, value);
    }
    // An edit by hand is seen as well.
    writeFile(file, "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\" + Product +
                        "]\n\"util_Left\"=dword:00000030\n");
    ASSERT_EQ(first.queryValue(reader, "util_Left", type, data), RegResult::Success);
    EXPECT_EQ(type, RegType::Dword);
    EXPECT_EQ(data, "\x30\0\0\0"s);
}

TEST_F(RegistryStoreTest, MalformedFileReadsEmptyAndIsKeptAsideByTheNextWrite)
{
    const std::string damaged = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\" +
                                Product + "]\n\"util_Left\"=\"12";
    writeFile(file, damaged);
    RegKey key{};
    EXPECT_EQ(store.openKey(RegKey::CurrentUser, Product, QueryOnly, key), RegResult::NotFound);
    EXPECT_EQ(readFile(file), damaged);
    EXPECT_EQ(store.keptAsideFile(), "");

    key = create();
    ASSERT_EQ(store.setValue(key, "util_Top", RegType::Sz, "5"), RegResult::Success);
    EXPECT_EQ(store.keptAsideFile(), file.string() + ".bad");
    EXPECT_EQ(readFile(file.string() + ".bad"), damaged);
    const RegFile now = RegFile::parse(readFile(file));
    ASSERT_NE(
        now.findValue(RegKey::CurrentUser, {"Software", "Tallowmere", "Pagewren"}, "util_Top"),
        nullptr);
}

TEST_F(RegistryStoreTest, UnreadableFileIsNeverReplaced)
{
    const RegKey key = create();
    fs::remove(file);
    fs::create_directory(file); // cannot be read as a file, whoever the user is
    RegType type{};
    std::string data;
    EXPECT_EQ(store.queryValue(key, "a", type, data), RegResult::IoError);
    RegKey other{};
    EXPECT_EQ(store.openKey(RegKey::CurrentUser, Product, QueryOnly, other), RegResult::IoError);
    EXPECT_EQ(store.setValue(key, "a", RegType::Sz, "1"), RegResult::IoError);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_FALSE(fs::exists(file.string() + ".bad"));
}

TEST_F(RegistryStoreTest, WriteFailuresAreReported)
{
    writeFile(file.parent_path(), "a file where the settings folder belongs");
    RegKey key{};
    EXPECT_EQ(store.createKey(RegKey::CurrentUser, Product, ReadWrite, key), RegResult::IoError);
    EXPECT_EQ(store.setValue(RegKey::CurrentUser, "a", RegType::Sz, "1"), RegResult::IoError);
}

// Starts the helper program; it writes once it reads a line.
std::unique_ptr<QProcess> startWriter(const std::string& prefix, int count)
{
    auto writer = std::make_unique<QProcess>();
    writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer->start(PW_REGISTRY_WRITER, {QString::fromStdString(prefix), QString::number(count)});
    EXPECT_TRUE(writer->waitForStarted());
    return writer;
}

TEST_F(RegistryStoreTest, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int Count = 200;
    const std::vector<std::string> prefixes = {"first", "second"};
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const auto& prefix : prefixes)
        writers.push_back(startWriter(prefix, Count));
    // Both must be released before either is waited for, or they would run one after the other.
    for (const auto& writer : writers) {
        writer->write("go\n");
        ASSERT_TRUE(writer->waitForBytesWritten(-1));
    }
    for (const auto& writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(-1));
        ASSERT_EQ(writer->exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(writer->exitCode(), 0);
    }

    const RegFile result = RegFile::parse(readFile(file));
    const RegFile::Path product = {"Software", "Tallowmere", "Pagewren"};
    for (const auto& prefix : prefixes) {
        for (int i = 0; i < Count; ++i) {
            const auto name = prefix + "_" + std::to_string(i);
            const RegFile::Value* value = result.findValue(RegKey::CurrentUser, product, name);
            ASSERT_NE(value, nullptr) << name << " was lost";
            EXPECT_EQ(value->data, std::to_string(i)) << name;
        }
    }
}

TEST_F(RegistryStoreTest, ReadersNeverSeeAPartialFileNorDoesAKilledWriterLeaveOne)
{
    const RegFile::Path product = {"Software", "Tallowmere", "Pagewren"};
    for (const int target : {30, 60}) {
        const std::string prefix = "round" + std::to_string(target);
        const auto writer = startWriter(prefix, 0);
        writer->write("go\n");
        ASSERT_TRUE(writer->waitForBytesWritten(-1));
        // Read along while the other process writes: every file seen must hold every value
        // the writer has reported done.
        long done = -1;
        while (done < target) {
            writer->waitForReadyRead(0);
            while (writer->canReadLine())
                done = writer->readLine().trimmed().toLong();
            if (done < 0)
                continue;
            RegFile seen;
            ASSERT_NO_THROW(seen = RegFile::parse(readFile(file)));
            const auto name = prefix + "_" + std::to_string(done);
            ASSERT_NE(seen.findValue(RegKey::CurrentUser, product, name), nullptr)
                << "a reader saw the file without " << name;
        }
        writer->kill();
        ASSERT_TRUE(writer->waitForFinished(-1));

        RegFile result;
        ASSERT_NO_THROW(result = RegFile::parse(readFile(file))) << prefix;
        for (long i = 0; i <= done; ++i) {
            const auto name = prefix + "_" + std::to_string(i);
            ASSERT_NE(result.findValue(RegKey::CurrentUser, product, name), nullptr)
                << name << " was reported written but is missing";
        }
        // The lock died with the writer.
        EXPECT_EQ(store.setValue(RegKey::CurrentUser, prefix, RegType::Sz, "after"),
                  RegResult::Success);
    }
}

} // namespace
} // namespace pagewren
