// The installed tree and the Debian package, as a desktop and a package manager see them.

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kAppId = u"org.vellorin.Vellorin"_s;

// The tool's exit code and everything it printed; a tool the set-up should have installed
// and cannot be started fails with its name in the output.
std::pair<int, QString> run(const QString& program, const QStringList& arguments,
                            const QString& destDir = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!destDir.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"DESTDIR"_s, destDir);
        process.setProcessEnvironment(environment);
    }
    process.start(program, arguments);
    const bool finished = process.waitForFinished(300000) && process.exitStatus() == QProcess::NormalExit;
    return {finished ? process.exitCode() : -1,
            program + u": "_s + QString::fromLocal8Bit(process.readAll())};
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

  private slots:
    void theTreeAndThePackageHoldWhatTheDesktopNeeds() {
        const QString build = qEnvironmentVariable("VELLORIN_BUILD_DIR");
        QTemporaryDir stage;
        // As a package build does it: prefix /usr, staged below DESTDIR.
        auto [status, output] = run(QStringLiteral(VELLORIN_CMAKE_COMMAND),
                                    {u"--install"_s, build, u"--prefix"_s, u"/usr"_s}, stage.path());
        QVERIFY2(status == 0, qPrintable(output));
        const QString usr = stage.path() + u"/usr"_s;
        QCOMPARE(QDir(usr + u"/bin"_s).entryList(QDir::Files),
                 (QStringList{u"vellorin"_s, u"vellorin-recover"_s}));
        // The command line runs where no display exists: no Qt library that draws.
        std::tie(status, output) = run(u"readelf"_s, {u"-d"_s, usr + u"/bin/vellorin-recover"_s});
        QVERIFY2(status == 0 && output.contains(u"libQt6Core"_s) && !output.contains(u"libQt6Gui"_s) &&
                     !output.contains(u"libQt6Widgets"_s),
                 qPrintable(output));
        // Its manual page reads without a complaint from man.
        const QString manual = usr + u"/share/man/man1/vellorin-recover.1.gz"_s;
        QVERIFY(QFileInfo::exists(manual));
        std::tie(status, output) =
            run(u"sh"_s, {u"-c"_s, u"MANWIDTH=80 man --warnings -l \"$0\" 2>&1 >/dev/null"_s, manual});
        QVERIFY2(status == 0 && output.trimmed() == u"sh:"_s, qPrintable(output));
        QVERIFY(QFileInfo(usr + u"/share/vellorin/photorec_auto.sh"_s).isExecutable());
        const QString desktopEntry = usr + u"/share/applications/"_s + kAppId + u".desktop"_s;
        std::tie(status, output) = run(u"desktop-file-validate"_s, {desktopEntry});
        QVERIFY2(status == 0 && !output.contains(u"error"_s), qPrintable(output));
        std::tie(status, output) = run(u"appstreamcli"_s, {u"validate-tree"_s, u"--no-net"_s, stage.path()});
        QVERIFY2(status == 0, qPrintable(output));

        QTemporaryDir out;
        std::tie(status, output) = run(QStringLiteral(VELLORIN_CPACK_COMMAND),
                                       {u"--config"_s, build + u"/CPackConfig.cmake"_s, u"-B"_s, out.path()});
        QVERIFY2(status == 0, qPrintable(output));
        const QStringList debs = QDir(out.path()).entryList({u"vellorin_*.deb"_s});
        QCOMPARE(debs.size(), 1);
        const QString deb = out.filePath(debs.first());
        std::tie(status, output) = run(u"dpkg-deb"_s, {u"--field"_s, deb, u"Depends"_s, u"Recommends"_s});
        const QString depends = output.section(u"Depends:"_s, 1).section(u'\n', 0, 0);
        const QString recommends = output.section(u"Recommends:"_s, 1).section(u'\n', 0, 0);
        QVERIFY2(depends.contains(u"libqt6widgets6"_s) && depends.contains(u"libqt6dbus6"_s) &&
                     depends.contains(u"libfuse3-3"_s),
                 qPrintable(output));
        // The engine, the view's mounting and the disk service are only recommended: the
        // simplified recovery runs without them. Nothing asks for rights as root any more.
        const auto names = [](const QString& field) {
            return field.trimmed().split(u", "_s).replaceInStrings(QRegularExpression(u" .*"_s), QString());
        };
        for (const QString& wanted : {u"testdisk"_s, u"fuse3"_s, u"udisks2"_s})
            QVERIFY2(names(recommends).contains(wanted) && !names(depends).contains(wanted),
                     qPrintable(output));
        QVERIFY2(!output.contains(u"policykit"_s), qPrintable(output));
        std::tie(status, output) = run(u"dpkg-deb"_s, {u"--contents"_s, deb});
        for (const QString& path :
             {u"./usr/bin/vellorin"_s, u"./usr/bin/vellorin-recover"_s,
              u"./usr/share/man/man1/vellorin-recover.1.gz"_s, u"./usr/share/vellorin/photorec_auto.sh"_s,
              u"./usr/libexec/vellorin/vellorin-source-view"_s,
              u"./usr/share/metainfo/"_s + kAppId + u".metainfo.xml"_s,
              u"./usr/share/icons/hicolor/scalable/apps/"_s + kAppId + u".svg"_s})
            QVERIFY2(output.contains(u' ' + path), qPrintable(path));
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "tst_app_install.moc"
