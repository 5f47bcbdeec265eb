#include "settings/SafeFile.h"

#include "util/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <filesystem>
#include <system_error>

namespace pagewren {

namespace {

QString qPath(const std::string& path)
{
    return QString::fromStdString(path);
}

Error fileError(const char* what, const std::string& path, const QString& reason)
{
    return Error(std::string(what) + " \"" + path + "\". " + reason.toStdString());
}

} // namespace

std::string readWholeFile(const std::string& path)
{
    QFile file(qPath(path));
    if (QFileInfo(file).isDir())
        throw fileError("Cannot open file", path, QStringLiteral("It is a folder."));
    if (!file.open(QIODevice::ReadOnly))
        throw fileError("Cannot open file", path, file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fileError("Cannot open file", path, file.errorString());
    return bytes.toStdString();
}

void writeFileAtomically(const std::string& path, const std::string& bytes)
{
    QSaveFile file(qPath(path));
    // Writing in place could leave half a file behind; better to fail.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw fileError("Cannot create file", path, file.errorString());
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw fileError("Cannot create file", path, reason);
    }
    if (!file.commit())
        throw fileError("Cannot create file", path, file.errorString());
}

std::string keepAside(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (int attempt = 1; attempt < 1000; ++attempt) {
        std::string aside = path + ".bad";
        if (attempt > 1)
            aside += std::to_string(attempt);
        if (fs::symlink_status(aside, error).type() != fs::file_type::not_found)
            continue;
        fs::rename(path, aside, error);
        return error ? std::string() : aside;
    }
    return {};
}

} // namespace pagewren
