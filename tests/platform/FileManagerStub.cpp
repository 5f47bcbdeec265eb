// Stands in for the desktop's file manager on a private session bus: owns
// org.freedesktop.FileManager1 and appends every ShowItems request to the file named by argv[1].
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

class FileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FileManager(QString log) : m_log(std::move(log)) {}

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        QFile file(m_log);
        if (file.open(QIODevice::Append | QIODevice::Text))
            QTextStream(&file) << uris.join(' ') << '|' << startupId << '\n';
    }

private:
    QString m_log;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    FileManager manager(QString::fromLocal8Bit(argv[1]));
    auto bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1"))) {
        std::fputs("file manager stub: cannot register on the session bus\n", stderr);
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "FileManagerStub.moc"
