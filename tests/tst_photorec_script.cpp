#include "platform/ExecutableResources.h"
#include "support/DiskImages.h"
#include "support/TreeHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// How one run of the script ended and what it printed (standard output and error together,
// as the application reads them).
struct Outcome {
    int status = -1; // -1 when it did not exit on its own
    QByteArray output;

    QStringList lines() const {
        QStringList all = QString::fromUtf8(output).split(QLatin1Char('\n'));
        if (!all.isEmpty() && all.last().isEmpty())
            all.removeLast();
        return all;
    }
    QString text() const { return QString::fromUtf8(output); }
};

QString resourceFolder() {
    return ExecutableResources().resourceFolder().value_or(QString());
}
QString shippedScript() {
    return resourceFolder() + QStringLiteral("/photorec_auto.sh");
}
QString realEngine() {
    return resourceFolder() + QStringLiteral("/photorec");
}

struct Invocation {
    QString script = shippedScript();
    QStringList arguments; // engine, source, recovery directory
    QString workingDirectory = QDir::tempPath();
    // Runs the script as this user instead of root.
    const passwd* user = nullptr;
    // Wraps the script the way a shell pipeline would: %1 is the script, then its arguments.
    QString wrapper;
};

Outcome run(const Invocation& invocation) {
    QProcess process;
    process.setProgram(QStringLiteral("/bin/bash"));
    if (invocation.wrapper.isEmpty()) {
        process.setArguments(QStringList{invocation.script} + invocation.arguments);
    } else {
        process.setArguments(QStringList{QStringLiteral("-c"), invocation.wrapper, invocation.script} +
                             invocation.arguments);
    }
    process.setWorkingDirectory(invocation.workingDirectory);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // No display: the script must never wait for a password prompt here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process.setProcessEnvironment(environment);
    const bool switchUser = invocation.user != nullptr;
    const uid_t uid = switchUser ? invocation.user->pw_uid : 0;
    const gid_t gid = switchUser ? invocation.user->pw_gid : 0;
    // A group of its own, so that a script that hangs goes with its engine.
    process.setChildProcessModifier([switchUser, uid, gid] {
        ::setpgid(0, 0);
        if (switchUser && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(126);
    });
    process.start();
    Outcome outcome;
    if (!process.waitForFinished(60000)) {
        qWarning("the script did not end within a minute");
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
    }
    outcome.output = process.readAll();
    if (process.exitStatus() == QProcess::NormalExit)
        outcome.status = process.exitCode();
    return outcome;
}

// What the application shows as log text: lines of plain text, nothing for a terminal.
void checkPlain(const Outcome& outcome) {
    QVERIFY2(!outcome.output.contains('\x1b'), outcome.output.constData());
    QVERIFY2(!outcome.output.contains('\r'), outcome.output.constData());
    QVERIFY2(outcome.output.endsWith('\n'), outcome.output.constData());
}

// A refusal: one plain line and a failure status, and nothing written below the recovery folder.
void checkRefused(const Outcome& outcome, const QString& recovery) {
    checkPlain(outcome);
    QVERIFY2(outcome.status > 0,
             qPrintable(QString::number(outcome.status) + QLatin1Char(' ') + outcome.text()));
    QCOMPARE(outcome.lines().size(), 1);
    QCOMPARE(listTree(recovery), QStringList{});
}

QString makeFolder(const QString& path) {
    QDir().mkpath(path);
    return path;
}

void writeExecutable(const QString& path, const QByteArray& text) {
    writeFile(path, text);
    QFile::setPermissions(path,
                          QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

} // namespace

class PhotorecScriptTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void hostilePathsAreOnlyData();
    void aFolderWithoutADiskDeviceIsRefused();
    void aSourceOnTheRecoveryFoldersDeviceIsRefused();
    void theEnginesExitStatusIsNoVerdict_data();
    void theEnginesExitStatusIsNoVerdict();
    void problemsBeforeTheSearchGiveOneLine_data();
    void problemsBeforeTheSearchGiveOneLine();
    void aClosedOutputDoesNotStopTheSearch();
    void progressAndSummaryCountTheRecoveredFiles();
    void anUnreadableSourceWithoutAPromptSaysWhatIsNeeded();
};

void PhotorecScriptTest::initTestCase() {
    QVERIFY2(QFileInfo(shippedScript()).isFile(), qPrintable(shippedScript()));
    if (!QFileInfo(realEngine()).isExecutable())
        QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
}

void PhotorecScriptTest::hostilePathsAreOnlyData() {
    QTemporaryDir scratch;
    // Each name would create INJECTED (in whatever folder the shell is in) if it were ever
    // read as shell text; the line feeds and the leading "-" try the other usual mistakes.
    const QString sourceFolder = makeFolder(scratch.filePath(
        QStringLiteral("-src $(touch INJECTED) `touch INJECTED` ;touch INJECTED; 'q\" \nx")));
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("-out 'a\"b $(touch INJECTED)\n*")));
    const QStringList pictures = makePictures(makeFolder(scratch.filePath(QStringLiteral("pictures"))), 4);
    QCOMPARE(pictures.size(), 4);
    const QString imageName = QStringLiteral("-card $(touch INJECTED) \"; rm -rf x\".img");
    const QString image = sourceFolder + QLatin1Char('/') + imageName;
    QVERIFY(makeFatImage(image, 2 * 1024 * 1024, pictures, {QStringLiteral("picture1.png")}));
    const QByteArray before = sha256Of(image);

    Invocation invocation;
    invocation.arguments = {realEngine(), imageName, recovery}; // the source relative, starting with "-"
    invocation.workingDirectory = sourceFolder;
    const Outcome outcome = run(invocation);

    checkPlain(outcome);
    QVERIFY2(outcome.status == 0,
             qPrintable(QString::number(outcome.status) + QLatin1Char(' ') + outcome.text()));
    QVERIFY2(outcome.text().startsWith(QStringLiteral("Scanning ") + image), qPrintable(outcome.text()));
    QVERIFY2(outcome.lines().last().contains(QStringLiteral("files recovered")), qPrintable(outcome.text()));
    const QStringList everything = listTree(scratch.path());
    QVERIFY2(everything.filter(QStringLiteral("/INJECTED")).isEmpty() &&
                 !everything.contains(QStringLiteral("INJECTED")),
             qPrintable(everything.join(QLatin1Char('\n'))));
    QCOMPARE(sha256Of(image), before);

    // The right files, and only they, under visible names.
    const QStringList recovered = visibleFileHashes(recovery);
    for (const QString& picture : pictures)
        QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
    static const QRegularExpression carved(QStringLiteral("^recup_dir\\.\\d+/f\\d+[^/]*\\.(jpg|png)$"));
    static const QRegularExpression hidden(QStringLiteral("(^|/)\\."));
    for (const QString& entry : listTree(recovery))
        QVERIFY2(hidden.match(entry).hasMatch() || carved.match(entry).hasMatch(), qPrintable(entry));
    // The engine's own files are kept, under hidden names.
    QVERIFY(QFileInfo(recovery + QStringLiteral("/.photorec/photorec.log")).isFile());
    QVERIFY(QFileInfo(recovery + QStringLiteral("/recup_dir.1/.report.xml")).isFile());
}

void PhotorecScriptTest::aFolderWithoutADiskDeviceIsRefused() {
    QTemporaryDir scratch;
    QByteArray fsType;
    runTool(QStringLiteral("findmnt"),
            {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("FSTYPE"), QStringLiteral("-T"),
             QStringLiteral("/dev/shm")},
            &fsType);
    std::unique_ptr<QTemporaryDir> inShm;
    QString folder;
    if (fsType.trimmed() == "tmpfs") {
        inShm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vellorin-XXXXXX"));
        folder = inShm->path();
    } else {
        folder = makeFolder(scratch.filePath(QStringLiteral("memory")));
        if (!runTool(QStringLiteral("mount"),
                     {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("none"), folder}))
            QSKIP("no tmpfs folder on this machine");
    }
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("out")));
    Invocation invocation;
    invocation.arguments = {realEngine(), folder, recovery};
    const Outcome outcome = run(invocation);
    if (!inShm)
        runTool(QStringLiteral("umount"), {folder});
    checkRefused(outcome, recovery);
    QVERIFY2(outcome.text().contains(folder) && outcome.text().contains(QStringLiteral("tmpfs")),
             qPrintable(outcome.text()));
}

void PhotorecScriptTest::aSourceOnTheRecoveryFoldersDeviceIsRefused() {
    QTemporaryDir scratch;
    const QString image = scratch.filePath(QStringLiteral("disk.img"));
    const QString made = makeExt4Image(image, 8 * 1024 * 1024, {}, {});
    if (made.startsWith(QStringLiteral("mount"))) {
        qInfo().noquote()
            << "No loop mount on this machine, one device for source and recovery is not tested:" << made;
        QSKIP("loop mounting is refused here");
    }
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const QString mountPoint = makeFolder(scratch.filePath(QStringLiteral("mounted")));
    LoopMount mount(image, mountPoint);
    QVERIFY2(mount.mounted(), qPrintable(mount.refusal()));
    const QString device = mount.device();
    QVERIFY2(device.startsWith(QStringLiteral("/dev/loop")), qPrintable(device));
    const QString photos = makeFolder(mountPoint + QStringLiteral("/photos"));
    const QString recovery = makeFolder(mountPoint + QStringLiteral("/recovered"));

    // A folder on that file system, the device itself, and the image file behind it.
    for (const QString& source : {photos, device, image}) {
        Invocation invocation;
        invocation.arguments = {realEngine(), source, recovery};
        const Outcome outcome = run(invocation);
        checkRefused(outcome, recovery);
        const QString line = outcome.lines().value(0);
        QVERIFY2(line.contains(device), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("would overwrite the deleted data")), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("another disk")), qPrintable(line));
    }
    QVERIFY(mount.unmount());
}

void PhotorecScriptTest::theEnginesExitStatusIsNoVerdict_data() {
    QTest::addColumn<QByteArray>("engine");
    QTest::addColumn<QString>("said");
    // %1 is the real engine.
    QTest::newRow("mistyped command list") << QByteArray("#!/bin/bash\nexec '%1' \"${@/,search/,serch}\"\n")
                                           << QStringLiteral("did not accept its commands");
    QTest::newRow("stops without searching")
        << QByteArray("#!/bin/sh\nexit 0\n") << QStringLiteral("did not run to its end");
    QTest::newRow("cannot open the source")
        << QByteArray("#!/bin/sh\nexit 1\n") << QStringLiteral("could not open");
    QTest::newRow("killed") << QByteArray("#!/bin/sh\nkill -KILL $$\n")
                            << QStringLiteral("stopped by signal 9");
}

void PhotorecScriptTest::theEnginesExitStatusIsNoVerdict() {
    QFETCH(QByteArray, engine);
    QFETCH(QString, said);
    QTemporaryDir scratch;
    const QString fake = scratch.filePath(QStringLiteral("engine"));
    writeExecutable(fake, engine.replace("%1", QFile::encodeName(realEngine())));
    const QString image = scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 1024 * 1024, {}, {}));
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("out")));

    Invocation invocation;
    invocation.arguments = {fake, image, recovery};
    const Outcome outcome = run(invocation);
    checkPlain(outcome);
    QVERIFY2(outcome.status > 0, qPrintable(outcome.text()));
    QVERIFY2(outcome.lines().last().contains(said), qPrintable(outcome.text()));
}

void PhotorecScriptTest::problemsBeforeTheSearchGiveOneLine_data() {
    QTest::addColumn<QString>("problem");
    QTest::newRow("no engine") << QStringLiteral("no engine");
    QTest::newRow("engine not executable") << QStringLiteral("engine not executable");
    QTest::newRow("no source") << QStringLiteral("no source");
    QTest::newRow("no recovery folder") << QStringLiteral("no recovery folder");
}

void PhotorecScriptTest::problemsBeforeTheSearchGiveOneLine() {
    QFETCH(QString, problem);
    QTemporaryDir scratch;
    QString engine = realEngine();
    QString image = scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 1024 * 1024, {}, {}));
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("out")));
    QString recoveryArgument = recovery;
    if (problem == QStringLiteral("no engine")) {
        engine = scratch.filePath(QStringLiteral("missing"));
    } else if (problem == QStringLiteral("engine not executable")) {
        engine = scratch.filePath(QStringLiteral("photorec"));
        writeFile(engine, "#!/bin/sh\nexit 0\n");
    } else if (problem == QStringLiteral("no source")) {
        image = scratch.filePath(QStringLiteral("gone.img"));
    } else {
        recoveryArgument = scratch.filePath(QStringLiteral("nowhere"));
    }
    Invocation invocation;
    invocation.arguments = {engine, image, recoveryArgument};
    const Outcome outcome = run(invocation);
    checkRefused(outcome, recovery);
    QVERIFY(!QFileInfo::exists(scratch.filePath(QStringLiteral("nowhere"))));
}

void PhotorecScriptTest::aClosedOutputDoesNotStopTheSearch() {
    QTemporaryDir scratch;
    const QStringList pictures = makePictures(makeFolder(scratch.filePath(QStringLiteral("pictures"))), 2);
    QCOMPARE(pictures.size(), 2);
    const QString image = scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 2 * 1024 * 1024, pictures, {}));
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("out")));

    // The reader goes away after the first line, as the application's pipe does when it quits.
    Invocation invocation;
    invocation.wrapper =
        QStringLiteral("bash \"$0\" \"$@\" | head -n 1 >/dev/null; exit \"${PIPESTATUS[0]}\"");
    invocation.arguments = {realEngine(), image, recovery};
    const Outcome outcome = run(invocation);
    QCOMPARE(outcome.status, 0);
    const QStringList recovered = visibleFileHashes(recovery);
    for (const QString& picture : pictures)
        QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
    QVERIFY(!QFileInfo::exists(recovery + QStringLiteral("/recup_dir.1/report.xml")));
}

void PhotorecScriptTest::progressAndSummaryCountTheRecoveredFiles() {
    QTemporaryDir scratch;
    // An engine that carves two files at once, searches on past one progress interval and
    // then closes its log as PhotoRec does.
    const QString fake = scratch.filePath(QStringLiteral("engine"));
    writeExecutable(
        fake,
        "#!/bin/bash\n"
        "printf '%s\\n' \"$@\" > arguments\n"
        "mkdir -p \"$3.1\" && echo one > \"$3.1/f0000001.jpg\" && echo two > \"$3.1/f0000002.png\"\n"
        "echo '<xml/>' > \"$3.1/report.xml\"\n"
        "sleep 4\n"
        "printf 'Total: 2 files found\\n\\njpg: 1/1 recovered\\npng: 1/1 recovered\\n' >> photorec.log\n");
    const QString image = scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 1024 * 1024, {}, {}));
    // A name that is also a pattern, as a save location often is.
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("Photos [2024] *")));

    Invocation invocation;
    invocation.arguments = {fake, image, recovery};
    const Outcome outcome = run(invocation);
    checkPlain(outcome);
    QVERIFY2(outcome.status == 0, qPrintable(outcome.text()));
    const QStringList lines = outcome.lines();
    QVERIFY2(!lines.filter(QStringLiteral("2 files recovered so far")).isEmpty(), qPrintable(outcome.text()));
    QVERIFY2(lines.last().endsWith(QStringLiteral(": 2 files recovered (jpg: 1, png: 1).")),
             qPrintable(outcome.text()));
    QCOMPARE(listTree(recovery + QStringLiteral("/recup_dir.1")),
             (QStringList{QStringLiteral(".report.xml"), QStringLiteral("f0000001.jpg"),
                          QStringLiteral("f0000002.png")}));

    // Every file family, over the whole space, with the output below the recovery folder.
    QFile arguments(recovery + QStringLiteral("/.photorec/arguments"));
    QVERIFY(arguments.open(QIODevice::ReadOnly));
    const QStringList given =
        QString::fromUtf8(arguments.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(given.mid(0, 5),
             (QStringList{QStringLiteral("/log"), QStringLiteral("/d"),
                          recovery + QStringLiteral("/recup_dir"), QStringLiteral("/cmd"), image}));
    QVERIFY2(given.value(5).contains(QStringLiteral("everything,enable,wholespace,search")),
             qPrintable(given.value(5)));
}

void PhotorecScriptTest::anUnreadableSourceWithoutAPromptSaysWhatIsNeeded() {
    if (::geteuid() != 0)
        QSKIP("only root can run the script as another user here");
    const passwd* nobody = ::getpwnam("nobody");
    QVERIFY2(nobody != nullptr, "no user 'nobody' on this machine");
    // A folder everyone may enter, with a copy of the script: the build folder may not be.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-script-XXXXXX"));
    ::chmod(QFile::encodeName(scratch.path()).constData(), 0755);
    const QString script = scratch.filePath(QStringLiteral("photorec_auto.sh"));
    QVERIFY(QFile::copy(shippedScript(), script));
    ::chmod(QFile::encodeName(script).constData(), 0755);
    const QString image = scratch.filePath(QStringLiteral("card.img"));
    QVERIFY(makeFatImage(image, 1024 * 1024, {}, {}));
    ::chmod(QFile::encodeName(image).constData(), 0600);
    const QString recovery = makeFolder(scratch.filePath(QStringLiteral("out")));
    ::chmod(QFile::encodeName(recovery).constData(), 0777);

    Invocation invocation;
    invocation.script = script;
    invocation.user = nobody;
    invocation.arguments = {QFileInfo(realEngine()).canonicalFilePath(), image, recovery};
    invocation.workingDirectory = scratch.path();
    const Outcome outcome = run(invocation);
    checkRefused(outcome, recovery);
    QVERIFY2(outcome.text().contains(image) &&
                 outcome.text().contains(QStringLiteral("administrator rights")),
             qPrintable(outcome.text()));
}

QTEST_MAIN(PhotorecScriptTest)
#include "tst_photorec_script.moc"
