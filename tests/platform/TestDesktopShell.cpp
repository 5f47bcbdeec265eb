#include "platform/DesktopShell.h"

#include "TestHome.h"

#include <QProcess>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace pagewren {
namespace {

namespace fs = std::filesystem;
using test::HomeTest;
using test::readFile;
using test::writeFile;

// Waits for a file that a detached process writes; "" when it never shows up.
std::string awaitFile(const fs::path& path)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fs::exists(path) && fs::file_size(path) > 0)
            return readFile(path);
        QThread::msleep(20);
    }
    return {};
}

// A session bus of our own for the whole test process: Qt connects to the session bus once and
// keeps that connection, so every test in the process must share it. It has no service files,
// so nothing is ever activated on it.
class PrivateBus {
public:
    static void ensureRunning()
    {
        static PrivateBus bus;
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.m_address.c_str(), 1);
    }

    ~PrivateBus()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

private:
    PrivateBus()
    {
        std::string folder = (fs::temp_directory_path() / "bus-XXXXXX").string();
        if (!::mkdtemp(folder.data()))
            throw std::runtime_error("cannot create a folder for the bus");
        m_folder = folder;
        writeFile(
            m_folder / "bus.conf",
            "<busconfig><type>session</type><listen>unix:path=" + (m_folder / "socket").string() +
                "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=%1")
                            .arg(QString::fromStdString((m_folder / "bus.conf").string())),
                        QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForReadyRead(10000))
            throw std::runtime_error("dbus-daemon did not start");
        m_address = m_daemon.readLine().trimmed().toStdString();
    }

    fs::path m_folder;
    QProcess m_daemon;
    std::string m_address;
};

class DesktopShellTest : public HomeTest {
protected:
    void SetUp() override
    {
        // xdg-open is where the shell hands folders and documents to the desktop; record instead.
        const auto bin = home.root() / "bin";
        writeFile(bin / "xdg-open",
                  "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + xdgOpenLog().string() + "'\n");
        fs::permissions(bin / "xdg-open", fs::perms::owner_all);
        home.setVariable("PATH", bin.string() + ":" + std::getenv("PATH"));
    }

    fs::path xdgOpenLog() const { return home.root() / "xdg-open.log"; }
    fs::path trash() const { return home.data() / "Trash"; }

    DesktopShell shell;
};

TEST_F(DesktopShellTest, TrashTakesTheFolderWithItsContents)
{
    const auto job = home.work() / "job";
    writeFile(job / "img_001.tif", "page");

    ASSERT_TRUE(shell.moveToTrash(job.string()));

    EXPECT_FALSE(fs::exists(job));
    EXPECT_EQ(readFile(trash() / "files/job/img_001.tif"), "page");
    const auto info = readFile(trash() / "info/job.trashinfo");
    EXPECT_NE(info.find("[Trash Info]"), std::string::npos);
    EXPECT_NE(info.find("Path=" + job.string()), std::string::npos) << info;
}

TEST_F(DesktopShellTest, TrashWorksWhenTheDataFolderIsMissing)
{
    fs::remove_all(home.data());
    const auto job = home.work() / "job";
    writeFile(job / "page.tif", "page");

    ASSERT_TRUE(shell.moveToTrash(job.string()));

    EXPECT_TRUE(fs::exists(trash() / "files/job/page.tif"));
    EXPECT_FALSE(fs::exists(home.work() / "files")) << "moved beside the current folder";
}

TEST_F(DesktopShellTest, TrashRefusesWhatIsNotThere)
{
    EXPECT_FALSE(shell.moveToTrash(""));
    EXPECT_FALSE(shell.moveToTrash((home.work() / "missing").string()));
    EXPECT_FALSE(fs::exists(trash() / "files"));
}

TEST_F(DesktopShellTest, RevealAsksTheFileManagerToSelectTheFile)
{
    PrivateBus::ensureRunning();
    const auto calls = home.root() / "show-items.log";
    QProcess fileManager;
    fileManager.start(QStringLiteral(PW_FILE_MANAGER_STUB),
                      {QString::fromStdString(calls.string())});
    ASSERT_TRUE(fileManager.waitForReadyRead(10000)) << "file manager stub did not start";
    const auto pdf = home.work() / "Pagewren" / "20091023153005.pdf";
    writeFile(pdf, "%PDF");

    EXPECT_TRUE(shell.revealFile(pdf.string()));

    const auto uri = QUrl::fromLocalFile(QString::fromStdString(pdf.string())).toString();
    EXPECT_EQ(awaitFile(calls), uri.toStdString() + "|\n");
    EXPECT_FALSE(fs::exists(xdgOpenLog()));
    fileManager.kill();
    fileManager.waitForFinished();
}

TEST_F(DesktopShellTest, RevealWithoutFileManagerOpensTheFolder)
{
    PrivateBus::ensureRunning();
    const auto pdf = home.work() / "out" / "job.pdf";
    writeFile(pdf, "%PDF");

    EXPECT_TRUE(shell.revealFile(pdf.string()));

    EXPECT_EQ(awaitFile(xdgOpenLog()), (home.work() / "out").string() + "\n");
}

TEST_F(DesktopShellTest, OpenFolderOnlyOpensFolders)
{
    const auto file = home.work() / "a.txt";
    writeFile(file, "x");
    EXPECT_FALSE(shell.openFolder(file.string()));
    EXPECT_FALSE(shell.openFolder((home.work() / "missing").string()));

    EXPECT_TRUE(shell.openFolder(home.work().string()));
    EXPECT_EQ(awaitFile(xdgOpenLog()), home.work().string() + "\n");
}

TEST_F(DesktopShellTest, HelpOpensTheManualInTheBrowser)
{
    const auto manual = home.work() / "help" / "index.html";
    EXPECT_FALSE(shell.showHelp(manual.string()));
    writeFile(manual, "<html></html>");

    EXPECT_TRUE(shell.showHelp(manual.string()));

    EXPECT_EQ(awaitFile(xdgOpenLog()), "file://" + manual.string() + "\n");
}

} // namespace
} // namespace pagewren
