#include "platform/DesktopShell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace pagewren {

namespace {

constexpr int kFileManagerTimeoutMs = 5000;

// xdg-open runs detached: it may stay alive for as long as the opened window does.
bool xdgOpen(const QString& target)
{
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

} // namespace

bool DesktopShell::moveToTrash(const std::string& path)
{
    if (path.empty())
        return false;
    // Qt 6.4 puts the item into ./files/ and reports success when the data folder is missing.
    const auto dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome))
        return false;
    QString inTrash;
    if (!QFile::moveToTrash(QString::fromStdString(path), &inTrash))
        return false;
    return QDir::isAbsolutePath(inTrash);
}

bool DesktopShell::revealFile(const std::string& path)
{
    const QFileInfo file(QString::fromStdString(path));
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                               QStringLiteral("/org/freedesktop/FileManager1"),
                                               QStringLiteral("org.freedesktop.FileManager1"),
                                               QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file.absoluteFilePath()).toString()} << QString();
    auto bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const auto reply = bus.call(call, QDBus::Block, kFileManagerTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    return openFolder(file.absolutePath().toStdString());
}

bool DesktopShell::openFolder(const std::string& path)
{
    if (!QFileInfo(QString::fromStdString(path)).isDir())
        return false;
    return xdgOpen(QString::fromStdString(path));
}

std::optional<std::string> DesktopShell::browseForFolder(const std::string& title)
{
    const auto folder = QFileDialog::getExistingDirectory(nullptr, QString::fromStdString(title));
    if (folder.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(folder).toStdString();
}

bool DesktopShell::showHelp(const std::string& path)
{
    if (!QFileInfo::exists(QString::fromStdString(path)))
        return false;
    return xdgOpen(QUrl::fromLocalFile(QString::fromStdString(path)).toString());
}

} // namespace pagewren
