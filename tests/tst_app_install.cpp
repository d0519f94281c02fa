// The installed tree and the Debian package, as a desktop and a package manager see them.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString kAppId = QStringLiteral("org.vellorin.Vellorin");

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!environment.isEmpty())
        process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(10000)) {
        result.output = program + QStringLiteral(": ") + process.errorString();
        return result;
    }
    process.waitForFinished(300000);
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// A tool the project's set-up installs; its absence is a broken set-up, not a reason to skip.
QString tool(const QString& name, const char* package) {
    const QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        qWarning("%s is missing: install the Debian package %s", qPrintable(name), package);
    return path;
}

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

    QString buildDir;
    QTemporaryDir destDir;
    QString root; // the installed prefix, below DESTDIR

  private slots:
    void initTestCase() {
        buildDir = qEnvironmentVariable("VELLORIN_BUILD_DIR");
        QVERIFY2(QFileInfo(buildDir + QStringLiteral("/cmake_install.cmake")).isFile(), qPrintable(buildDir));
        QVERIFY(destDir.isValid());
        // As a package build does it: prefix /usr, staged below DESTDIR.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), destDir.path());
        const Run install =
            run(QStringLiteral(VELLORIN_CMAKE_COMMAND),
                {QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), QStringLiteral("/usr")},
                environment);
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
        root = destDir.path() + QStringLiteral("/usr");
    }

    void treeHasTheLayoutTheApplicationExpects() {
        QVERIFY(isExecutableFile(root + QStringLiteral("/bin/vellorin")));
        // The application finds its resources at <its folder>/../share/vellorin.
        const QString resources = root + QStringLiteral("/share/vellorin");
        QVERIFY(isExecutableFile(resources + QStringLiteral("/photorec_auto.sh")));
        QFile script(resources + QStringLiteral("/photorec_auto.sh"));
        QVERIFY(script.open(QIODevice::ReadOnly));
        QVERIFY(script.readLine().startsWith("#!"));

        // The engine link is made when the build found PhotoRec, and points where the build's does.
        const QFileInfo builtLink(buildDir + QStringLiteral("/share/vellorin/photorec"));
        const QFileInfo installedLink(resources + QStringLiteral("/photorec"));
        QCOMPARE(installedLink.isSymLink(), builtLink.isSymLink());
        if (builtLink.isSymLink())
            QCOMPARE(installedLink.symLinkTarget(), builtLink.symLinkTarget());

        // Nothing of the build (tests, benchmarks, static libraries) lands in the tree.
        QStringList binaries = QDir(root + QStringLiteral("/bin")).entryList(QDir::Files | QDir::System);
        QCOMPARE(binaries, QStringList{QStringLiteral("vellorin")});
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/lib")));
    }

    void desktopEntryLaunchesTheInstalledBinaryWithOurIcon() {
        const QString entry =
            root + QStringLiteral("/share/applications/") + kAppId + QStringLiteral(".desktop");
        QVERIFY(QFileInfo(entry).isFile());
        const QString validator = tool(QStringLiteral("desktop-file-validate"), "desktop-file-utils");
        QVERIFY(!validator.isEmpty());
        const Run validation = run(validator, {entry});
        QVERIFY2(validation.exitCode == 0 && validation.output.trimmed().isEmpty(),
                 qPrintable(validation.output));

        QSettings desktop(entry, QSettings::IniFormat);
        desktop.beginGroup(QStringLiteral("Desktop Entry"));
        // The window's icon and the desktop's idea of the application go by the same name.
        QCOMPARE(desktop.value(QStringLiteral("Icon")).toString(), kAppId);
        const QString exec = desktop.value(QStringLiteral("Exec")).toString().section(QLatin1Char(' '), 0, 0);
        QVERIFY2(isExecutableFile(root + QStringLiteral("/bin/") + exec), qPrintable(exec));
        QVERIFY(QFileInfo(root + QStringLiteral("/share/icons/hicolor/scalable/apps/") + kAppId +
                          QStringLiteral(".svg"))
                    .isFile());
    }

    void iconIsAScalableSquareSvg() {
        QFile icon(root + QStringLiteral("/share/icons/hicolor/scalable/apps/") + kAppId +
                   QStringLiteral(".svg"));
        QVERIFY(icon.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&icon);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), QStringLiteral("svg"));
        const QStringList box =
            xml.attributes().value(QStringLiteral("viewBox")).toString().split(QLatin1Char(' '));
        QCOMPARE(box.size(), 4);
        QCOMPARE(box.at(2), box.at(3));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }

    void appStreamMetadataValidatesAgainstTheTree() {
        const QString metainfo =
            root + QStringLiteral("/share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml");
        QVERIFY(QFileInfo(metainfo).isFile());
        const QString appstream = tool(QStringLiteral("appstreamcli"), "appstream");
        QVERIFY(!appstream.isEmpty());
        const Run file = run(appstream, {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
        QVERIFY2(file.exitCode == 0, qPrintable(file.output));
        // The whole tree: the launchable desktop entry must exist and be valid as well.
        const Run tree =
            run(appstream, {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), destDir.path()});
        QVERIFY2(tree.exitCode == 0, qPrintable(tree.output));
    }

    void debianPackageDependsOnQtAndRecommendsTheEngine() {
        const QString dpkgDeb = tool(QStringLiteral("dpkg-deb"), "dpkg");
        QVERIFY(!dpkgDeb.isEmpty());
        QTemporaryDir out;
        const Run pack = run(QStringLiteral(VELLORIN_CPACK_COMMAND),
                             {QStringLiteral("--config"), buildDir + QStringLiteral("/CPackConfig.cmake"),
                              QStringLiteral("-B"), out.path()});
        QVERIFY2(pack.exitCode == 0, qPrintable(pack.output));
        const QStringList debs = QDir(out.path()).entryList({QStringLiteral("vellorin_*.deb")}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = out.path() + QLatin1Char('/') + debs.first();

        const Run fields = run(dpkgDeb, {QStringLiteral("--field"), deb, QStringLiteral("Package"),
                                         QStringLiteral("Depends"), QStringLiteral("Recommends")});
        QCOMPARE(fields.exitCode, 0);
        QVERIFY2(fields.output.contains(QStringLiteral("Package: vellorin\n")), qPrintable(fields.output));
        const QString depends =
            fields.output.section(QStringLiteral("Depends:"), 1).section(QLatin1Char('\n'), 0, 0);
        for (const char* library : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libqt6dbus6"})
            QVERIFY2(depends.contains(QLatin1String(library)), qPrintable(fields.output));
        const QString recommends =
            fields.output.section(QStringLiteral("Recommends:"), 1).section(QLatin1Char('\n'), 0, 0);
        QVERIFY2(recommends.contains(QStringLiteral("testdisk")), qPrintable(fields.output));
        QVERIFY2(recommends.contains(QStringLiteral("policykit-1")), qPrintable(fields.output));
        // testdisk is only recommended: the simplified recovery runs without it.
        QVERIFY(!depends.contains(QStringLiteral("testdisk")));

        const Run contents = run(dpkgDeb, {QStringLiteral("--contents"), deb});
        QCOMPARE(contents.exitCode, 0);
        const QStringList lines = contents.output.split(QLatin1Char('\n'));
        const auto entry = [&](const QString& path) {
            for (const QString& line : lines)
                if (line.endsWith(QStringLiteral(" ./usr/") + path) ||
                    line.contains(QStringLiteral(" ./usr/") + path + QStringLiteral(" -> ")))
                    return line;
            return QString();
        };
        QVERIFY2(entry(QStringLiteral("bin/vellorin")).startsWith(QStringLiteral("-rwxr-xr-x")),
                 qPrintable(contents.output));
        QVERIFY2(
            entry(QStringLiteral("share/vellorin/photorec_auto.sh")).startsWith(QStringLiteral("-rwxr-xr-x")),
            qPrintable(contents.output));
        QVERIFY(
            !entry(QStringLiteral("share/applications/") + kAppId + QStringLiteral(".desktop")).isEmpty());
        QVERIFY(
            !entry(QStringLiteral("share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml")).isEmpty());
        QVERIFY(!entry(QStringLiteral("share/icons/hicolor/scalable/apps/") + kAppId + QStringLiteral(".svg"))
                     .isEmpty());
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "tst_app_install.moc"
