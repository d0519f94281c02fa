// The shipped engine script on its own, as the application runs it: paths that are only data,
// the searches it refuses, what it tells the engine to look for, and the lines it prints.

#include "platform/ExecutableResources.h"
#include "platform/LockedSearches.h"
#include "platform/SystemDiskAccess.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"
#include "workflow/ScanOptions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cerrno>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

QString resource(const QString& name) {
    return ExecutableResources().resourceFolder().value_or(QString()) + u'/' + name;
}

// How one run of the script ended (-1 when not on its own) and what it printed, standard
// output and error together as the application reads them.
struct Outcome {
    int status = -1;
    QString text;
    QStringList lines() const { return text.split(u'\n', Qt::SkipEmptyParts); }
};

// Runs the script with engine, source and recovery folder, as user (root when none).
Outcome run(const QStringList& arguments, const QString& folder = QDir::tempPath(),
            const passwd* user = nullptr, const QString& script = resource(u"photorec_auto.sh"_s)) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // No display: the script must never wait for a password prompt here.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"DISPLAY"_s), environment.remove(u"WAYLAND_DISPLAY"_s);
    if (user)
        environment.insert(u"TSAN_OPTIONS"_s, tsanOptionsReadableIn(folder));
    process.setProcessEnvironment(environment);
    // A group of its own, so that a script that hangs goes with its engine.
    process.setChildProcessModifier([user] {
        ::setpgid(0, 0);
        if (user &&
            (::setgroups(0, nullptr) != 0 || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0))
            ::_exit(126);
    });
    process.start(u"/bin/bash"_s, QStringList{script} + arguments);
    if (!process.waitForFinished(60000)) {
        qWarning("the script did not end within a minute");
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished();
    }
    const QByteArray output = process.readAll();
    // The application shows it as log text: plain lines, nothing for a terminal. Other output is
    // marked so that no check on it can pass.
    const bool plain = !output.contains('\x1b') && !output.contains('\r') && output.endsWith('\n');
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            plain ? QString::fromUtf8(output) : u"not plain:\n"_s + QString::fromUtf8(output)};
}

// A refusal is one plain line and a failure status, with nothing written below the recovery folder.
void checkRefused(const Outcome& outcome, const QString& recovery, const QStringList& said = {}) {
    QVERIFY2(outcome.status > 0 && outcome.lines().size() == 1, qPrintable(outcome.text));
    for (const QString& part : said)
        QVERIFY2(outcome.text.contains(part), qPrintable(outcome.text));
    QCOMPARE(listTree(recovery), QStringList{});
}

QString makeFolder(const QString& path) {
    QDir().mkpath(path);
    return path;
}

// The files of expected that are among found, by content.
QStringList foundAmong(const QStringList& expected, const QStringList& found) {
    QStringList present;
    for (const QString& file : expected)
        if (found.contains(QString::fromLatin1(sha256Of(file))))
            present.append(QFileInfo(file).fileName());
    return present;
}

QString engineLog(const QString& recovery) {
    return QString::fromUtf8(readFile(native(recovery + u"/.photorec/photorec.log"_s)));
}

// The mount points of this user's source views made by the script.
QStringList views() {
    return sourceViews();
}

// The script, its helper and an engine in a folder everyone may enter, with a recovery folder.
struct Shared {
    QTemporaryDir scratch{QDir::tempPath() + u"/vellorin-script-XXXXXX"_s};
    QString folder, script, engine, recovery;
    explicit Shared(const QByteArray& engineText = {}) {
        ::chmod(QFile::encodeName(scratch.path()).constData(), 0755);
        folder = copyEngineFolder(scratch.path(), engineText);
        script = folder + u"/photorec_auto.sh"_s, engine = folder + u"/photorec"_s;
        recovery = makeFolder(scratch.filePath(u"out"_s));
        ::chmod(QFile::encodeName(recovery).constData(), 0777);
    }
};

} // namespace

class PhotorecScriptTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        if (!QFileInfo(resource(u"photorec"_s)).isExecutable())
            QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
    }

    void hostilePathsAreOnlyData() {
        QTemporaryDir scratch;
        // Each name would create INJECTED (in whatever folder the shell is in) if it were ever
        // read as shell text; the line feeds and the leading "-" try the other usual mistakes.
        const QString folder =
            makeFolder(scratch.filePath(u"-src $(touch INJECTED) `touch INJECTED`;'q\" \nx"_s));
        const QString recovery = makeFolder(scratch.filePath(u"-out 'a\"b $(touch INJECTED)\n*"_s));
        const QStringList pictures = makePictures(makeFolder(scratch.filePath(u"pictures"_s)), 4);
        const QString name = u"-card $(touch INJECTED) \"; rm -rf x\".img"_s;
        QVERIFY(makeFatImage(folder + u'/' + name, 2 * 1024 * 1024, pictures, {u"picture1.png"_s}));
        const QByteArray before = sha256Of(folder + u'/' + name);

        // The source relative, starting with "-".
        const Outcome outcome = run({resource(u"photorec"_s), name, recovery}, folder);
        // Each message is one line: a line feed in a path is shown as U+FFFD.
        const QString shown = QString(folder).replace(u'\n', QChar(0xfffd)) + u'/' + name;
        QVERIFY2(outcome.status == 0 && outcome.text.startsWith(u"Scanning "_s + shown) &&
                     outcome.lines().last().contains(u"files recovered"_s),
                 qPrintable(outcome.text));
        QVERIFY(listTree(scratch.path()).filter(QRegularExpression(u"(^|/)INJECTED$"_s)).isEmpty());
        QCOMPARE(sha256Of(folder + u'/' + name), before);
        // The right files under visible names, and the engine's own files under hidden ones.
        const QStringList recovered = visibleFileHashes(recovery);
        for (const QString& picture : pictures)
            QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
        static const QRegularExpression expected(u"(^|/)\\.|^recup_dir\\.\\d+/f\\d+[^/]*\\.(jpg|png)$"_s);
        for (const QString& entry : listTree(recovery))
            QVERIFY2(expected.match(entry).hasMatch(), qPrintable(entry));
        QVERIFY(QFileInfo(recovery + u"/.photorec/photorec.log"_s).isFile());
        QVERIFY(QFileInfo(recovery + u"/recup_dir.1/.report.xml"_s).isFile());
    }

    void problemsBeforeTheSearchGiveOneLine_data() {
        QTest::addColumn<QString>("engine"); // "" for the real one
        QTest::addColumn<QString>("source"); // "card.img" is an empty FAT image; "@" a folder in memory
        QTest::addColumn<QString>("recovery");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("no engine") << u"missing"_s << u"card.img"_s << u"out"_s << QStringList();
        QTest::newRow("engine not executable") << u"card.img"_s << u"card.img"_s << u"out"_s << QStringList();
        QTest::newRow("no source") << QString() << u"gone.img"_s << u"out"_s << QStringList();
        QTest::newRow("no recovery folder") << QString() << u"card.img"_s << u"nowhere"_s << QStringList();
        QTest::newRow("a folder without a disk")
            << QString() << u"@"_s << u"out"_s << QStringList{u"@"_s, u"tmpfs"_s};
    }

    void problemsBeforeTheSearchGiveOneLine() {
        QFETCH(QString, engine);
        QFETCH(QString, source);
        QFETCH(QString, recovery);
        QFETCH(QStringList, said);
        QTemporaryDir scratch;
        QTemporaryDir memory(u"/dev/shm/vellorin-XXXXXX"_s);
        if (source == u"@"_s && !memory.isValid())
            QSKIP("no /dev/shm on this machine");
        QVERIFY(makeFatImage(scratch.filePath(u"card.img"_s), 1024 * 1024, {}));
        const QString out = makeFolder(scratch.filePath(u"out"_s));
        const QString from = source == u"@"_s ? memory.path() : scratch.filePath(source);
        const QString with = engine.isEmpty() ? resource(u"photorec"_s) : scratch.filePath(engine);
        checkRefused(run({with, from, scratch.filePath(recovery)}), out, said.replaceInStrings(u"@"_s, from));
        QVERIFY(!QFileInfo::exists(scratch.filePath(u"nowhere"_s)));
    }

    void aSourceOnTheRecoveryFoldersDeviceIsRefused() {
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"disk.img"_s);
        const QString mounted = makeFolder(scratch.filePath(u"mounted"_s));
        writeFile(image, QByteArray(8 << 20, 0));
        QVERIFY(runTool(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image}));
        if (!runTool(u"mount"_s, {u"-o"_s, u"loop"_s, image, mounted}))
            QSKIP("loop mounting is refused here: one device for source and recovery is not tested");
        const auto unmount = qScopeGuard([&] { runTool(u"umount"_s, {u"-d"_s, mounted}); });
        QByteArray device;
        QVERIFY(runTool(u"findmnt"_s, {u"-n"_s, u"-o"_s, u"SOURCE"_s, u"-M"_s, mounted}, &device));
        const QString loop = QString::fromLocal8Bit(device.trimmed());
        const QString recovery = makeFolder(mounted + u"/recovered"_s);
        // A folder on that file system, the device itself, and the image file behind it.
        for (const QString& source : {makeFolder(mounted + u"/photos"_s), loop, image})
            checkRefused(run({resource(u"photorec"_s), source, recovery}), recovery,
                         {loop, u"would overwrite the deleted data"_s, u"another disk"_s});
        // A save location on an image that lives on the device, mounted in turn.
        const QString inner = mounted + u"/inner.img"_s,
                      innerMounted = makeFolder(scratch.filePath(u"inner"_s));
        writeFile(inner, QByteArray(4 << 20, 0));
        QVERIFY(runTool(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, inner}));
        QVERIFY(runTool(u"mount"_s, {u"-o"_s, u"loop"_s, inner, innerMounted}));
        const auto unmountInner = qScopeGuard([&] { runTool(u"umount"_s, {u"-d"_s, innerMounted}); });
        const QString innerRecovery = makeFolder(innerMounted + u"/recovered"_s);
        checkRefused(run({resource(u"photorec"_s), loop, innerRecovery}), innerRecovery,
                     {loop, u"would overwrite the deleted data"_s});
    }

    void theEnginesExitStatusIsNoVerdict_data() {
        QTest::addColumn<QByteArray>("engine"); // %1 is the real engine
        QTest::addColumn<QString>("said");
        QTest::newRow("mistyped command list")
            << QByteArray("#!/bin/bash\nexec '%1' \"${@/,search/,serch}\"\n")
            << u"did not accept its commands"_s;
        QTest::newRow("stops without searching")
            << QByteArray("#!/bin/sh\nexit 0\n") << u"did not run to its end"_s;
        QTest::newRow("cannot open the source") << QByteArray("#!/bin/sh\nexit 1\n") << u"could not open"_s;
        QTest::newRow("killed") << QByteArray("#!/bin/sh\nkill -KILL $$\n") << u"stopped by signal 9"_s;
    }

    void theEnginesExitStatusIsNoVerdict() {
        QFETCH(QByteArray, engine);
        QFETCH(QString, said);
        QTemporaryDir scratch;
        writeFile(scratch.filePath(u"engine"_s),
                  engine.replace("%1", QFile::encodeName(resource(u"photorec"_s))));
        QVERIFY(QFile::setPermissions(scratch.filePath(u"engine"_s), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(makeFatImage(scratch.filePath(u"card.img"_s), 1024 * 1024, {}));
        const Outcome outcome = run({scratch.filePath(u"engine"_s), scratch.filePath(u"card.img"_s),
                                     makeFolder(scratch.filePath(u"out"_s))});
        QVERIFY2(outcome.status > 0 && outcome.lines().value(outcome.lines().size() - 1).contains(said),
                 qPrintable(outcome.text));
    }

    void progressAndSummaryCountTheRecoveredFiles() {
        QTemporaryDir scratch;
        // An engine that carves two files at once, searches on past one progress interval and
        // then closes its log as PhotoRec does.
        // "env" would read a path holding "=" as a setting.
        const QString engine = scratch.filePath(u"engine=1"_s);
        writeFile(
            engine,
            "#!/bin/bash\nprintf '%s\\n' \"$@\" > arguments\n"
            "mkdir -p \"$3.1\" && echo one > \"$3.1/f0000001.jpg\" && echo two > \"$3.1/f0000002.png\"\n"
            "echo '<xml/>' > \"$3.1/report.xml\"\nsleep 4\n"
            "printf 'Total: 2 files found\\n\\njpg: 1/1 recovered\\npng: 1/1 recovered\\n' >> "
            "photorec.log\n");
        QVERIFY(QFile::setPermissions(engine, QFile::ReadOwner | QFile::ExeOwner));
        const QString image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 1024 * 1024, {}));
        // A name that is also a pattern, as a save location often is.
        const QString recovery = makeFolder(scratch.filePath(u"Photos [2024] *"_s));
        const Outcome outcome = run({engine, image, recovery});
        QVERIFY2(outcome.status == 0 && !outcome.lines().filter(u"2 files recovered so far"_s).isEmpty() &&
                     outcome.lines().last().endsWith(u": 2 files recovered (jpg: 1, png: 1)."_s),
                 qPrintable(outcome.text));
        QCOMPARE(listTree(recovery + u"/recup_dir.1"_s),
                 (QStringList{u".report.xml"_s, u"f0000001.jpg"_s, u"f0000002.png"_s}));
        // Every file family, over the whole space, with the output below the recovery folder.
        const QStringList given =
            QString::fromUtf8(readFile(native(recovery + u"/.photorec/arguments"_s))).split(u'\n');
        QCOMPARE(given.mid(0, 4), (QStringList{u"/log"_s, u"/d"_s, recovery + u"/recup_dir"_s, u"/cmd"_s}));
        // The engine reads the view of the image, which is gone with the run.
        QVERIFY2(given.value(4).endsWith(u"/source"_s) && !QFileInfo::exists(given.value(4)),
                 qPrintable(given.value(4)));
        QVERIFY2(given.value(5).contains(u"everything,enable,wholespace,search"_s),
                 qPrintable(given.value(5)));
    }

    void anUnreadableSourceSaysWhatIsNeeded() {
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("only root can run the script as another user here");
        Shared shared;
        const QString image = shared.scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 1024 * 1024, {}));
        ::chmod(QFile::encodeName(image).constData(), 0600);
        checkRefused(
            run({shared.engine, image, shared.recovery}, shared.scratch.path(), nobody, shared.script),
            shared.recovery, {image, u"needs permission"_s, u"\"disk\" group"_s});
    }

    // What a caller planted never leads the run astray: a link named as the engine's log, a
    // link where the engine's first folder goes, another user's folder in a shared recovery
    // folder. Only the run's own new files are written, and all of them by the caller.
    void theEngineRunsAsTheCallerAndFollowsNothingPlanted() {
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("only root can run the script as another user here");
        Shared shared(kNotingEngine);
        takeCredentials(shared.folder);
        const auto giveToNobody = [&](const QString& path) {
            return ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid);
        };
        const QStringList pictures = makePictures(makeFolder(shared.scratch.filePath(u"pictures"_s)), 4);
        const QString image = shared.scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 2 * 1024 * 1024, pictures, {u"picture1.png"_s}));
        QCOMPARE(giveToNobody(image), 0);
        const QString victim = shared.scratch.filePath(u"victim"_s),
                      elsewhere = makeFolder(shared.scratch.filePath(u"elsewhere"_s));
        writeFile(victim, "victim\n");
        QCOMPARE(giveToNobody(victim), 0);
        ::chmod(QFile::encodeName(shared.recovery).constData(), 0777);
        writeFile(shared.recovery + u"/recup_dir.7/f0000001.jpg"_s, "theirs");
        const QString planted = makeFolder(shared.recovery + u"/.photorec"_s);
        QCOMPARE(giveToNobody(planted), 0);
        QVERIFY(QFile::link(victim, planted + u"/photorec.log"_s));
        QVERIFY(QFile::link(elsewhere, shared.recovery + u"/recup_dir.1"_s));
        const QStringList before = listTree(shared.recovery);

        const Outcome outcome =
            run({shared.engine, image, shared.recovery}, shared.scratch.path(), nobody, shared.script);
        QVERIFY2(outcome.status == 0, qPrintable(outcome.text));
        QCOMPARE(readFile(native(victim)), QByteArray("victim\n"));
        QCOMPARE(listTree(elsewhere), QStringList{});
        QCOMPARE(readFile(native(shared.recovery + u"/recup_dir.7/f0000001.jpg"_s)), QByteArray("theirs"));
        QCOMPARE(QFileInfo(shared.recovery + u"/recup_dir.7"_s).ownerId(), 0u);
        // The engine and the script that started it, as the caller.
        const QString caller = QString::number(nobody->pw_uid);
        QCOMPARE(takeCredentials(shared.folder), QStringList{caller + u' ' + caller});
        const QStringList recovered = visibleFileHashes(shared.recovery);
        for (const QString& picture : pictures)
            QVERIFY2(recovered.contains(QString::fromLatin1(sha256Of(picture))), qPrintable(picture));
        for (const QString& entry : listTree(shared.recovery))
            if (!before.contains(entry))
                QVERIFY2(QFileInfo(shared.recovery + u'/' + entry).ownerId() == nobody->pw_uid,
                         qPrintable(entry));
    }

    // Options come before the three arguments, or none at all: anything else, and any format name
    // that is not one of the engine's own kind of names, gets the usage and nothing is looked at.
    void badOptionsGetTheUsage() {
        QTemporaryDir scratch;
        const QString out = makeFolder(scratch.filePath(u"out"_s));
        const QStringList operands{resource(u"photorec"_s), scratch.filePath(u"card.img"_s), out};
        for (const QStringList& options : {QStringList{u"--formats="_s},
                                           {u"--formats=JPG"_s},
                                           {u"--formats=jpg,,png"_s},
                                           {u"--formats=jpg;touch x"_s},
                                           {u"--formats=jpg,inter"_s},
                                           {u"--freespace"_s},
                                           {u"--free-space"_s, u"-x"_s}}) {
            const Outcome outcome = run(options + operands, scratch.path());
            QVERIFY2(outcome.status == 2 &&
                         outcome.text.startsWith(
                             u"Usage: photorec_auto.sh [--formats=NAME,NAME...] [--free-space]"_s),
                     qPrintable(options.join(u' ') + u": "_s + outcome.text));
            checkRefused(outcome, out);
        }
    }

    // What the engine is told and what the user reads, for each choice; the engine here notes
    // its arguments and logs what the real one would.
    void theOptionsReachTheEngineAndTheLog_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("fileSystem"); // made with mkfs.<this>
        QTest::addColumn<QByteArray>("engineLogs");
        QTest::addColumn<QString>("commands"); // after "fileopt,"
        QTest::addColumn<QStringList>("said"); // every line; %1 the image, %2 the recovery folder
        const QString scanning = u"Scanning %1 (1048576 bytes) for "_s;
        const QString finished = u"Search finished in N s: 0 files recovered."_s;
        QTest::newRow("formats, free space of FAT")
            << QStringList{u"--formats=jpg,png"_s, u"--free-space"_s} << u"vfat"_s
            << QByteArray("fat12_remove_used_space\\n")
            << u"everything,disable,jpg,enable,png,enable,freespace,search"_s
            << QStringList{scanning + u"jpg, png files, in the free space only; recovered files go to %2"_s,
                           finished};
        QTest::newRow("free space the engine could not tell apart")
            << QStringList{u"--free-space"_s, u"--"_s} << u"vfat"_s << QByteArray()
            << u"everything,enable,freespace,search"_s
            << QStringList{
                   scanning +
                       u"every file type PhotoRec knows, in the free space only; recovered files go to %2"_s,
                   u"PhotoRec could not tell the used space of %1 from the free space, so the whole space was searched."_s,
                   finished};
        QTest::newRow("free space of a file system without it")
            << QStringList{u"--free-space"_s} << u"minix"_s << QByteArray()
            << u"everything,enable,wholespace,search"_s
            << QStringList{
                   scanning +
                       u"every file type PhotoRec knows, over the whole space; recovered files go to %2"_s,
                   u"%1 holds minix, and the free space can be told apart only on FAT, exFAT, NTFS and ext2/3/4, so the whole space is searched."_s,
                   finished};
    }

    void theOptionsReachTheEngineAndTheLog() {
        QFETCH(QStringList, options);
        QFETCH(QString, fileSystem);
        QFETCH(QByteArray, engineLogs);
        QFETCH(QString, commands);
        QFETCH(QStringList, said);
        QTemporaryDir scratch;
        const QString engine = scratch.filePath(u"engine"_s);
        writeFile(engine, "#!/bin/bash\nprintf '%s\\n' \"$@\" > arguments\nprintf '" + engineLogs +
                              "Total: 0 files found\\n' >> photorec.log\n");
        QVERIFY(QFile::setPermissions(engine, QFile::ReadOwner | QFile::ExeOwner));
        const QString image = scratch.filePath(u"card.img"_s), out = makeFolder(scratch.filePath(u"out"_s));
        writeFile(image, QByteArray(1 << 20, 0));
        QVERIFY(runTool(u"mkfs."_s + fileSystem, {image}));
        const Outcome outcome = run(options + QStringList{engine, image, out});
        static const QRegularExpression seconds(u"^Search finished in \\d+ s:"_s);
        QCOMPARE(outcome.lines().replaceInStrings(seconds, u"Search finished in N s:"_s),
                 said.replaceInStrings(u"%1"_s, image).replaceInStrings(u"%2"_s, out));
        QCOMPARE(outcome.status, 0);
        const QStringList given =
            QString::fromUtf8(readFile(native(out + u"/.photorec/arguments"_s))).split(u'\n');
        QCOMPARE(given.value(5), u"partition_none,options,paranoid,fileopt,"_s + commands);
    }

    // Every name of the table is one the installed engine knows: it logs a syntax error for any
    // other, and then the run fails.
    void theEngineKnowsEveryFormatNameOfTheTable() {
        QTemporaryDir scratch;
        const QStringList pictures = makePictures(makeFolder(scratch.filePath(u"p"_s)), 2);
        const QString image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 1024 * 1024, pictures));
        const QString all = u"--formats="_s + ScanOptions::allEngineFormats().join(u','),
                      out = makeFolder(scratch.filePath(u"all"_s));
        const Outcome outcome = run({all, resource(u"photorec"_s), image, out});
        QVERIFY2(outcome.status == 0 && !engineLog(out).contains(u"Syntax error"_s),
                 qPrintable(outcome.text + engineLog(out)));
        QCOMPARE(foundAmong(pictures, visibleFileHashes(out)).size(), pictures.size());

        const Outcome unknown = run({u"--formats=jpg,nosuchformat"_s, resource(u"photorec"_s), image,
                                     makeFolder(scratch.filePath(u"unknown"_s))});
        QVERIFY2(unknown.status == 1 && unknown.lines().last().contains(u"did not accept its commands"_s),
                 qPrintable(unknown.text));
    }

    // A card full of photos and an archive, formatted again: its file system has forgotten them
    // all, and the pictures' formats bring back every photo and nothing of the archive.
    void picturesOnlyComeBackFromAReformattedCard() {
        QTemporaryDir scratch;
        const QStringList pictures = makePictures(makeFolder(scratch.filePath(u"p"_s)), 60);
        const QString archive = scratch.filePath(u"notes.zip"_s);
        QByteArray notes;
        for (int n = 0; n < 2000; ++n)
            notes += "Line " + QByteArray::number(n) + " of the notes kept beside the photos.\n";
        QVERIFY(makeZip(archive, u"notes.txt"_s, notes));
        const QString image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 64 * 1024 * 1024, pictures + QStringList{archive}));
        QVERIFY(runTool(u"mkfs.vfat"_s, {image}));
        QByteArray listed;
        QVERIFY(runTool(u"mdir"_s, {u"-b"_s, u"-i"_s, image, u"::"_s}, &listed));
        QCOMPARE(listed.trimmed(), QByteArray());

        const QString photos = makeFolder(scratch.filePath(u"photos"_s));
        const QString pictureFormats = ScanOptions::engineFormatsOf(FileFamily::Pictures).join(u',');
        Outcome outcome = run({u"--formats="_s + pictureFormats, resource(u"photorec"_s), image, photos});
        QVERIFY2(outcome.status == 0, qPrintable(outcome.text));
        const QStringList recovered = visibleFileHashes(photos);
        QCOMPARE(foundAmong(pictures, recovered).size(), pictures.size());
        QVERIFY(!recovered.contains(QString::fromLatin1(sha256Of(archive))));
        QVERIFY2(listTree(photos)
                     .filter(QRegularExpression(u"^recup_dir\\.\\d+/[^/.][^/]*\\.(zip|txt)$"_s))
                     .isEmpty(),
                 qPrintable(listTree(photos).join(u'\n')));
        // The archive was there to be found.
        const QString archives = makeFolder(scratch.filePath(u"archives"_s));
        outcome = run({u"--formats=zip"_s, resource(u"photorec"_s), image, archives});
        QVERIFY2(outcome.status == 0 &&
                     visibleFileHashes(archives).contains(QString::fromLatin1(sha256Of(archive))),
                 qPrintable(outcome.text));
    }

    // Only the space no file uses: the deleted pictures, none of the live ones.
    void freeSpaceOnlyBringsBackTheDeletedFiles() {
        QTemporaryDir scratch;
        const QString originals = makeFolder(scratch.filePath(u"p"_s));
        const QStringList pictures = makePictures(originals, 5);
        const QStringList deleted{pictures[1], pictures[2]}, live{pictures[0], pictures[3], pictures[4]};
        const QString ext4 = scratch.filePath(u"disk.img"_s);
        QVERIFY(runTool(u"mkfs.ext4"_s, {u"-q"_s, u"-b"_s, u"4096"_s, u"-d"_s, originals, ext4, u"16M"_s}));
        for (const QString& file : deleted)
            QVERIFY(runTool(u"debugfs"_s, {u"-w"_s, u"-R"_s, u"rm "_s + QFileInfo(file).fileName(), ext4}));
        const QString out = makeFolder(scratch.filePath(u"ext4"_s));
        const Outcome outcome = run({u"--free-space"_s, resource(u"photorec"_s), ext4, out});
        QVERIFY2(outcome.status == 0 && outcome.lines().size() == 2 &&
                     outcome.lines().first().contains(u"in the free space only"_s),
                 qPrintable(outcome.text));
        const QStringList recovered = visibleFileHashes(out);
        QCOMPARE(foundAmong(deleted, recovered).size(), deleted.size());
        QCOMPARE(foundAmong(live, recovered), QStringList());
    }

    // A disk that fails or is pulled out during the search ends the run within seconds, saying
    // so, and what was recovered before stays; a few bad places do not end it.
    void aDiskThatFailsEndsTheRunAndTheFilesFoundStay_data() {
        QTest::addColumn<QStringList>("disk"); // the stand-in's options
        QTest::addColumn<QString>("said");     // a pattern for the helper's line; empty: no failure
        QTest::newRow("fails from 16 MiB on")
            << QStringList{u"--bad"_s, u"16777216"_s}
            << u"^The disk could not be read any more: 32 reads in a row failed, the last at byte \\d+ \\(Input/output error\\)\\.$"_s;
        QTest::newRow("pulled out at 16 MiB")
            << QStringList{u"--pulled-at"_s, u"16777216"_s, u"--errno"_s, QString::number(ENODEV)}
            << u"^The disk went away during the search: reading it at byte \\d+ failed \\(No such device\\)\\.$"_s;
        // An unreadable MiB, 200 KB and one 4 KiB sector.
        QTest::newRow("a few bad places")
            << QStringList{u"--bad"_s, u"12000000-13048576"_s, u"--bad"_s, u"20000000-20200000"_s,
                           u"--bad"_s, u"26000000-26004096"_s}
            << QString();
    }

    void aDiskThatFailsEndsTheRunAndTheFilesFoundStay() {
        QFETCH(QStringList, disk);
        QFETCH(QString, said);
        QTemporaryDir scratch;
        // Enough pictures first for the engine to settle its block size before it reaches the
        // failing part, then data to the end.
        const QStringList pictures = makePictures(makeFolder(scratch.filePath(u"p"_s)), 20);
        const QString image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFilledFatImage(image, 32 << 20, pictures, 24 << 20));
        FailingDisk failing(image, scratch.filePath(u"disk"_s), disk);
        QVERIFY(failing.serving());
        const QString out = makeFolder(scratch.filePath(u"out"_s));

        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = run({resource(u"photorec"_s), failing.file(), out});
        QVERIFY2(clock.elapsed() < 20000, qPrintable(outcome.text));
        const QStringList recovered = visibleFileHashes(out);
        QCOMPARE(foundAmong(pictures, recovered).size(), pictures.size());
        if (said.isEmpty()) {
            QVERIFY2(outcome.status == 0 && outcome.lines().last().startsWith(u"Search finished"_s),
                     qPrintable(outcome.text));
            return;
        }
        const QStringList lines = outcome.lines();
        QVERIFY2(
            outcome.status == 8 && lines.size() >= 3 &&
                QRegularExpression(said).match(lines[lines.size() - 2]).hasMatch() &&
                lines.last() ==
                    u"The search of %1 was stopped; the %2 files recovered before the disk failed are kept in %3."_s
                        .arg(failing.file())
                        .arg(recovered.size())
                        .arg(out),
            qPrintable(outcome.text));
        // The run's view is gone with it.
        const QRegularExpressionMatch view =
            QRegularExpression(u" /cmd (\\S+)/source "_s).match(engineLog(out));
        QVERIFY2(view.hasMatch() && !QFileInfo::exists(view.captured(1)), qPrintable(engineLog(out)));
    }

    // PhotoRec waits for space forever once the save location is full; the script stops it.
    void aFullSaveLocationEndsTheRun() {
        QTemporaryDir scratch;
        const QString small = makeFolder(scratch.filePath(u"small"_s));
        if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("no tmpfs can be mounted here");
        auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
        const QString image = scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 8 * 1024 * 1024, makePictures(makeFolder(scratch.filePath(u"p"_s)), 40)));
        const Outcome outcome = run({resource(u"photorec"_s), image, makeFolder(small + u"/out"_s)});
        static const QRegularExpression said(
            u"^The save location is full: [1-9]\\d* files were recovered before it filled up\\.$"_s);
        QVERIFY2(outcome.status > 0 &&
                     said.match(outcome.lines().value(outcome.lines().size() - 1)).hasMatch(),
                 qPrintable(outcome.text));
        // No engine is left working in it.
        QCOMPARE(::umount2(QFile::encodeName(small).constData(), 0), 0);
        unmount.dismiss();
    }

    // A view whose helper was killed ends its run; one whose whole run was killed is taken
    // down before the next, which completes; nothing of ours stays mounted.
    void aKilledViewBlocksNothing() {
        Shared shared("#!/bin/bash\nsleep 3\nexec /usr/bin/photorec \"$@\"\n");
        const QString image = shared.scratch.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 2 * 1024 * 1024,
                             makePictures(makeFolder(shared.scratch.filePath(u"p"_s)), 2)));
        SystemDiskAccess().unmountStaleViews(); // what an earlier failed case may have left
        const QStringList mountedBefore = views();
        // The first whole run killed is taken down by the application, the second by the next run.
        for (const int killed : {0, 1, 2}) {
            const bool wholeRun = killed > 0;
            // The stand-in engine's sleep outlives a stopped engine, and holds the search's
            // lock until it ends.
            const QString lock = shared.recovery + u"/.photorec/search.lock"_s;
            for (int n = 0; n < 100 && LockedSearches().holder(lock); ++n)
                QThread::msleep(50);
            QProcess script;
            script.setProcessChannelMode(QProcess::MergedChannels);
            script.setChildProcessModifier([] { ::setpgid(0, 0); });
            script.start(u"/bin/bash"_s, {shared.script, shared.engine, image, shared.recovery});
            QStringList added;
            for (int n = 0; n < 100 && added.isEmpty(); ++n, QThread::msleep(50)) {
                added = views();
                added.removeIf([&](const QString& v) { return mountedBefore.contains(v); });
            }
            QCOMPARE(added.size(), 1);
            if (wholeRun) {
                ::kill(-static_cast<pid_t>(script.processId()), SIGKILL);
                QVERIFY(script.waitForFinished());
                QVERIFY(views().contains(added.first())); // stale, answering nothing
                if (killed == 2)
                    break;
                SystemDiskAccess().unmountStaleViews();
            } else {
                QThread::msleep(500); // mid-run: the script has seen its view and started the engine
                QVERIFY(runTool(u"pkill"_s,
                                {u"-KILL"_s, u"-f"_s, u"vellorin-source-view --fd 3 .* "_s + added.first()}));
                QVERIFY(script.waitForFinished(10000));
                const QString said = QString::fromUtf8(script.readAll());
                QVERIFY2(script.exitCode() != 0 && said.contains(u"stopped before the search ended"_s),
                         qPrintable(said));
            }
            QCOMPARE(views(), mountedBefore);
        }
        const Outcome next = run({shared.engine, image, shared.recovery});
        QVERIFY2(next.status == 0, qPrintable(next.text));
        QCOMPARE(views(), mountedBefore);
    }
};

QTEST_MAIN(PhotorecScriptTest)
#include "tst_photorec_script.moc"
