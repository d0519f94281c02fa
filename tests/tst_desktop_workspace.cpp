// The reveal and the folder opening, against a session bus of the test's own: a file manager
// the test plays, or none at all.

#include "platform/DesktopWorkspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

extern char** environ;

using namespace vellorin;

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kPath = QStringLiteral("/org/freedesktop/FileManager1");

// Plays the desktop's file manager on the bus and writes down what it is asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    struct Call {
        QStringList uris;
        QString startupId;
    };
    QList<Call> calls;

  public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString& startupId) {
        calls.append({uris, startupId});
        emit called();
    }

  signals:
    void called();
};

// Stands in for the desktop's handler of file URLs (xdg-open and friends).
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) {
        urls.append(url);
        emit opened();
    }
  signals:
    void opened();
};

// A bus with no service files: no real file manager can be started on it by activation.
constexpr char kBusConfig[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>session</type>\n"
    "  <listen>unix:tmpdir=/tmp</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
    "    <allow eavesdrop=\"true\"/>\n"
    "    <allow own=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

constexpr char kPrivateBusMark[] = "VELLORIN_TEST_PRIVATE_BUS";

// Runs this same test program again inside dbus-run-session, so that the session bus Qt
// connects to is one this test owns, never the desktop's.
int rerunOnPrivateBus(int argc, char** argv) {
    QTemporaryFile config(QDir::tempPath() + QStringLiteral("/vellorin-bus-XXXXXX.conf"));
    if (!config.open() || config.write(kBusConfig) != qint64(sizeof kBusConfig - 1) || !config.flush()) {
        fprintf(stderr, "cannot write the bus configuration\n");
        return 2;
    }
    const QByteArray configArgument = "--config-file=" + QFile::encodeName(config.fileName());
    std::vector<char*> arguments{const_cast<char*>("dbus-run-session"),
                                 const_cast<char*>(configArgument.constData()), const_cast<char*>("--")};
    for (int i = 0; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    setenv(kPrivateBusMark, "1", 1);
    pid_t child = 0;
    if (const int error =
            posix_spawnp(&child, "dbus-run-session", nullptr, nullptr, arguments.data(), environ)) {
        fprintf(stderr, "dbus-run-session: %s (install the Debian package dbus)\n", strerror(error));
        return 2;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

class WorkspaceTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch;
    OpenedUrls opened;

    QString file(const QString& relative) {
        const QString path = scratch.path() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        return path;
    }

  private slots:
    void initTestCase() {
        QVERIFY(qEnvironmentVariableIsSet(kPrivateBusMark));
        QVERIFY2(QDBusConnection::sessionBus().isConnected(),
                 qPrintable(QDBusConnection::sessionBus().lastError().message()));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void init() { opened.urls.clear(); }

    void revealAsksTheFileManagerToShowTheFile() {
        // The file manager lives on a connection of its own, as it would in another process.
        QDBusConnection fileManagerBus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fm"));
        QVERIFY(fileManagerBus.isConnected());
        FakeFileManager fileManager;
        QVERIFY(fileManagerBus.registerObject(kPath, &fileManager, QDBusConnection::ExportScriptableSlots));
        QVERIFY(fileManagerBus.registerService(kService));

        // A recovered name with a space, a '#' and letters beyond ASCII must still arrive as
        // one well-formed URI that leads back to the very same file.
        const QString path = file(QStringLiteral("recovered_files/Holiday 2023/#1 été.jpg"));
        DesktopWorkspace workspace;
        QSignalSpy called(&fileManager, &FakeFileManager::called);
        workspace.revealFile(path);
        QVERIFY(called.wait(5000));
        QCOMPARE(fileManager.calls.size(), 1);
        const FakeFileManager::Call call = fileManager.calls.first();
        QCOMPARE(call.uris.size(), 1);
        const QString uri = call.uris.first();
        QVERIFY2(uri.startsWith(QStringLiteral("file:///")), qPrintable(uri));
        QVERIFY2(!uri.contains(QLatin1Char(' ')) && !uri.contains(QStringLiteral("é")), qPrintable(uri));
        QCOMPARE(QUrl(uri, QUrl::StrictMode).toLocalFile(), path);
        QCOMPARE(call.startupId, QString());

        // The file manager answered: the folder is not opened as well.
        QTest::qWait(200);
        QVERIFY(opened.urls.isEmpty());

        QVERIFY(fileManagerBus.unregisterService(kService));
        fileManagerBus.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("fm"));
    }

    void revealWithoutAFileManagerOpensTheFolder() {
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
        const QString path = file(QStringLiteral("recovered_files/f1234.png"));
        DesktopWorkspace workspace;
        QSignalSpy spy(&opened, &OpenedUrls::opened);
        workspace.revealFile(path);
        QVERIFY(spy.wait(10000));
        QCOMPARE(opened.urls,
                 (QList<QUrl>{QUrl::fromLocalFile(scratch.path() + QStringLiteral("/recovered_files"))}));
    }

    void revealOfAFileDeletedMeanwhileStillShowsItsFolder() {
        // Nothing answers and the file is gone: the user still lands in the folder it was in.
        const QString path = scratch.path() + QStringLiteral("/recovered_files/gone.mov");
        DesktopWorkspace workspace;
        QSignalSpy spy(&opened, &OpenedUrls::opened);
        workspace.revealFile(path);
        QVERIFY(spy.wait(10000));
        QCOMPARE(opened.urls.first().toLocalFile(), scratch.path() + QStringLiteral("/recovered_files"));
    }

    void openFolderHandsTheFolderToTheDesktop() {
        DesktopWorkspace workspace;
        const QString folder = scratch.path() + QStringLiteral("/recovered_files/with space");
        QDir().mkpath(folder);
        workspace.openFolder(folder);
        QCOMPARE(opened.urls, (QList<QUrl>{QUrl::fromLocalFile(folder)}));
    }
};

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet(kPrivateBusMark))
        return rerunOnPrivateBus(argc, argv);
    QGuiApplication app(argc, argv);
    WorkspaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_workspace.moc"
