// The reveal of a recovered file, against a session bus of the test's own: a file manager the
// test plays, or none at all.

#include "platform/desktop/DesktopWorkspace.h"

#include <QDBusConnection>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace vellorin;
using namespace Qt::StringLiterals;

// Plays the desktop's file manager and writes down what it is asked to show; also stands in
// for the desktop's handler of file URLs.
class FakeDesktop : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    QStringList shown;
    QList<QUrl> opened;
  public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown += uris, emit called(); }
    void open(const QUrl& url) { opened.append(url), emit called(); }
  signals:
    void called();
};

class WorkspaceTest : public QObject {
    Q_OBJECT

  private slots:
    void revealShowsTheFileOrElseItsFolder() {
        QTemporaryDir scratch;
        FakeDesktop desktop;
        QDesktopServices::setUrlHandler(u"file"_s, &desktop, "open");
        QSignalSpy called(&desktop, &FakeDesktop::called);
        // A name with a space, a '#' and letters beyond ASCII still arrives as one well-formed
        // URI that leads back to the very same file.
        const QString path = scratch.filePath(u"recovered_files/Holiday 2023/#1 été.jpg"_s);
        QDBusConnection fileManager = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fm"_s);
        QVERIFY(fileManager.registerObject(u"/org/freedesktop/FileManager1"_s, &desktop,
                                           QDBusConnection::ExportScriptableSlots));
        QVERIFY(fileManager.registerService(u"org.freedesktop.FileManager1"_s));
        DesktopWorkspace().revealFile(path);
        QVERIFY(called.wait(5000));
        const QString uri = desktop.shown.join(u'\n'); // one, well-formed
        QVERIFY2(!uri.contains(u' ') && !uri.contains(u"é"_s) && !uri.contains(u'\n'), qPrintable(uri));
        QCOMPARE(QUrl(uri, QUrl::StrictMode).toLocalFile(), path);
        QVERIFY(desktop.opened.isEmpty());

        // No file manager on the bus: the folder the file is in opens instead.
        QVERIFY(fileManager.unregisterService(u"org.freedesktop.FileManager1"_s));
        DesktopWorkspace().revealFile(path);
        QVERIFY(called.wait(10000));
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(path).path())});
    }

    // A picture opens in its application; what the desktop would run, whatever its name says,
    // is only shown in its folder (no file manager here: the folder opens).
    void openHandsOnlyHarmlessFilesToTheirApplication() {
        QTemporaryDir scratch;
        FakeDesktop desktop;
        QDesktopServices::setUrlHandler(u"file"_s, &desktop, "open");
        QSignalSpy called(&desktop, &FakeDesktop::called);
        const auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(scratch.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName()
                                                                                        : QString();
        };
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QString jpeg = scratch.filePath(u"f0001.jpg"_s);
        QVERIFY(picture.save(jpeg));
        DesktopWorkspace().openFile(jpeg);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(jpeg)});

        for (const QString& hostile :
             {write(u"photo.jpg"_s, "[Desktop Entry]\nType=Application\nExec=sh -c 'touch pwned'\n"),
              write(u"notes.txt"_s, "#!/bin/sh\ntouch pwned\n"), write(u"f0002.sh"_s, "echo hi\n"),
              write(u"f0003.desktop"_s, "[Desktop Entry]\nType=Application\nExec=true\n")}) {
            QVERIFY(!hostile.isEmpty());
            desktop.opened.clear();
            DesktopWorkspace().openFile(hostile);
            QVERIFY(called.wait(10000));
            QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(scratch.path())});
        }
    }
};

int main(int argc, char** argv) {
    // Run again inside a session bus of our own, never the desktop's.
    if (!qEnvironmentVariableIsSet("VELLORIN_TEST_PRIVATE_BUS")) {
        qputenv("VELLORIN_TEST_PRIVATE_BUS", "1");
        QStringList arguments{u"--"_s};
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        QProcess bus;
        bus.setProcessChannelMode(QProcess::ForwardedChannels);
        bus.start(u"dbus-run-session"_s, arguments);
        return bus.waitForFinished(120000) && bus.exitStatus() == QProcess::NormalExit ? bus.exitCode() : 2;
    }
    QGuiApplication app(argc, argv);
    WorkspaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop_workspace.moc"
