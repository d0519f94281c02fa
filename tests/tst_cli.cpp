// vellorin-recover run as a user runs it: a child process judged only by what a user sees of
// it (its exit status, what it prints, through a pipe and on a terminal, and the files it
// leaves), with the real engine reading real images.

#include "support/DiskImages.h"
#include "support/Fakes.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <filesystem>
#include <map>

#include <fcntl.h>
#include <linux/magic.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <termios.h>
#include <unistd.h>

using namespace vellorin::test;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
// Before this line the run has not touched the engine; after it, the engine's programs run.
const QByteArray kEngineStarted = "PhotoRec automation script started...";

QString program() {
    return qEnvironmentVariable("VELLORIN_BUILD_DIR") + u"/bin/vellorin-recover"_s;
}

// What one run showed: -1 as status when it crashed or outlived its time.
struct Ran {
    int status = -1;
    QByteArray out, err;
    QString told() const {
        return u"exit %1\n--- stdout:\n%2\n--- stderr:\n%3"_s.arg(status).arg(
            QString::fromUtf8(out.right(6000)), QString::fromUtf8(err.right(3000)));
    }
};

void finishInto(QProcess& process, Ran& ran, int ms) {
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(ms)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        ran.status = process.exitCode();
    }
    ran.out += process.readAllStandardOutput();
    ran.err += process.readAllStandardError();
}

// Output into a pipe, as in a script or "| less".
Ran recover(const QStringList& arguments, int ms = 240000, const QString& which = program()) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(which, arguments);
    Ran ran;
    finishInto(process, ran, ms);
    return ran;
}

// Standard output on a pseudo-terminal that many columns wide, standard error into a pipe;
// out is every byte the terminal received. The terminal is raw, so that no line discipline
// adds carriage returns the program never wrote.
Ran recoverOnTerminal(const QStringList& arguments, unsigned short columns, int ms = 240000) {
    Ran ran;
    int master = -1;
    int slave = -1;
    struct winsize size {};
    size.ws_col = columns;
    size.ws_row = 30;
    if (::openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
        ran.err = "openpty failed: " + QByteArray(std::strerror(errno));
        return ran;
    }
    struct termios mode {};
    ::tcgetattr(slave, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);
    // Neither end may leak into the run's programs, where the master would keep it open.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, O_NONBLOCK);

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO); });
    process.start(program(), arguments);
    ::close(slave);
    const auto drain = [&] {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(master, buffer, sizeof buffer)) > 0)
            ran.out.append(buffer, got);
    };
    QElapsedTimer clock;
    clock.start();
    // The terminal's buffer is small: it is read while the run goes, or the run would wait.
    while (process.state() != QProcess::NotRunning && clock.elapsed() < ms) {
        process.waitForFinished(20);
        drain();
    }
    finishInto(process, ran, 1000);
    drain();
    ::close(master);
    return ran;
}

struct Running {
    pid_t pid = 0;
    QList<QByteArray> arguments;
};

// The processes, zombies aside, whose command line holds text: every program of a run names
// its save location.
QList<Running> processesNaming(const QByteArray& text) {
    QList<Running> found;
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile commandLine(u"/proc/%1/cmdline"_s.arg(pid));
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!number || pid == ::getpid() || !commandLine.open(QIODevice::ReadOnly) ||
            !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray arguments = commandLine.readAll();
        const QByteArray state = stat.readAll();
        if (arguments.contains(text) && state.mid(state.lastIndexOf(") ") + 2, 1) != "Z")
            found.append({pid, arguments.chopped(arguments.endsWith('\0') ? 1 : 0).split('\0')});
    }
    return found;
}

bool isMounted(const QString& point) {
    QFile table(u"/proc/self/mountinfo"_s);
    if (!table.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : table.readAll().split('\n'))
        if (line.split(' ').value(4) == QFile::encodeName(point))
            return true;
    return false;
}

// A run followed while it goes, for a test to act on it part way.
struct LiveRun {
    QProcess process;
    QByteArray out;
    QByteArray needle;

    LiveRun(const QStringList& arguments, const QString& save) : needle(QFile::encodeName(save)) {
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program(), arguments);
    }
    // Reads on until ready() holds; false when the run ended first or two minutes passed.
    bool readUntil(const std::function<bool()>& ready, int stepMs = 100) {
        QElapsedTimer waited;
        waited.start();
        while (process.state() != QProcess::NotRunning && waited.elapsed() < 120000 && !ready()) {
            process.waitForReadyRead(stepMs);
            out += process.readAllStandardOutput();
        }
        return process.state() == QProcess::Running;
    }
    // Where the run's source views are mounted: the view program's last argument.
    QStringList views() const {
        QStringList found;
        for (const Running& running : processesNaming(needle))
            if (running.arguments.first().endsWith("/vellorin-source-view"))
                found.append(QFile::decodeName(running.arguments.last()));
        return found;
    }
    // When, after since, the programs the run started had all ended, and when the program
    // itself had; -1 for what still ran ten seconds on.
    struct Ended {
        qint64 programs = -1;
        qint64 itself = -1;
    };
    Ended endAfter(const QElapsedTimer& since) {
        Ended ended;
        const auto self = static_cast<pid_t>(process.processId());
        while (since.elapsed() < 10000 && (ended.programs < 0 || ended.itself < 0)) {
            process.waitForFinished(10);
            if (ended.itself < 0 && process.state() == QProcess::NotRunning)
                ended.itself = since.elapsed();
            const QList<Running> left = processesNaming(needle);
            if (ended.programs < 0 && std::all_of(left.begin(), left.end(), [self](const Running& running) {
                    return running.pid == self;
                }))
                ended.programs = since.elapsed();
        }
        return ended;
    }
    // A whole run killed, as a power cut or "kill -9" leaves it: the program and every process
    // group its programs run in, except this test's own.
    void killEverything() {
        for (const Running& running : processesNaming(needle)) {
            const pid_t group = ::getpgid(running.pid);
            if (group > 0 && group != ::getpgrp())
                ::kill(-group, SIGKILL);
            ::kill(running.pid, SIGKILL);
        }
    }
    Ran finish() {
        Ran ran;
        ran.out = out;
        finishInto(process, ran, 10000);
        return ran;
    }
};

// Every regular file below root whose path has no hidden component, by its path relative to
// root, in bytes as the file system holds them, with its content.
std::map<std::string, QByteArray> visibleFiles(const std::string& root) {
    std::map<std::string, QByteArray> files;
    namespace fs = std::filesystem;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->path().filename().native().starts_with('.')) {
            if (it->is_directory())
                it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            files[fs::relative(it->path(), root).native()] = readFile(it->path().native());
        }
    }
    return files;
}

// Every entry below root, folders and hidden ones included: relative paths, sorted.
QStringList everything(const QString& root) {
    QStringList found;
    for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        found.append(QDir(root).relativeFilePath(it.next()));
    found.sort();
    return found;
}

QStringList hashesOf(const QStringList& files) {
    QStringList hashes;
    for (const QString& file : files)
        hashes << QString::fromLatin1(sha256Of(file));
    return hashes;
}

// Text as the program shows it: every control character replaced.
QString shownAs(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() <= 0x9f))
            c = QChar(0xfffd);
    return text;
}

QStringList lines(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
}

// Any control character a terminal could act on; line feeds only end lines.
bool holdsControlCodes(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u != u'\n' && (u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f));
    });
}

// What a terminal keeps of the output: everything but the redraws of the progress line, each
// "\r\x1b[2K" followed by the line's new state, or by a line that stays (log, summary).
struct TerminalOutput {
    QByteArray kept;
    QStringList progressLines;
    explicit TerminalOutput(const QByteArray& bytes) {
        const QList<QByteArray> parts = bytes.split('\r');
        kept = parts.first();
        for (qsizetype i = 1; i < parts.size(); ++i) {
            if (!parts[i].startsWith("\x1b[2K"))
                kept += '\r' + parts[i]; // a carriage return of its own: a fault
            else if (parts[i].contains('\n'))
                kept += parts[i].mid(4);
            else if (parts[i].size() > 4)
                progressLines.append(QString::fromUtf8(parts[i].mid(4)));
        }
    }
};

// A FAT card of pictures spread from its first byte to its last: a search takes as long on
// it as the disk it is served from is slow. Dense enough that the engine's first pass, which
// learns the block size from the first files it meets, ends early, as on a card in use; few
// enough for the root folder of a FAT16 card.
struct SlowCard {
    QTemporaryDir scratch;
    QString image = scratch.filePath(u"card.img"_s);
    QStringList pictures;

    bool make() {
        QDir().mkpath(scratch.filePath(u"pictures"_s));
        pictures = makePictures(scratch.filePath(u"pictures"_s), 60);
        return pictures.size() == 60 && makeSpreadFatImage(image, 256 * kMiB, pictures);
    }
};

// A small formatted card as a camera leaves it: pictures among a document, a note and an
// archive, some of each deleted.
struct MixedCard {
    QTemporaryDir scratch;
    QString image = scratch.filePath(u"mixed.img"_s);
    QStringList pictures, others;
    const QStringList deletedPictures{u"picture1.png"_s, u"picture4.jpg"_s, u"picture6.jpg"_s};

    bool make() {
        const QString folder = scratch.filePath(u"files"_s);
        QDir().mkpath(folder);
        pictures = makePictures(folder, 8);
        others = {folder + u"/report.pdf"_s, folder + u"/old.pdf"_s, folder + u"/notes.txt"_s,
                  folder + u"/bundle.zip"_s};
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        const QByteArray page = "% a page of the quarterly report, with its figures\n";
        return pictures.size() == 8 &&
               write(others[0], "%PDF-1.4\n" + page.repeated(300) + "trailer\n<< >>\n%%EOF\n") &&
               write(others[1], "%PDF-1.4\n" + page.repeated(200) + "trailer\n<< >>\n%%EOF\n") &&
               write(others[2], QByteArray("Shopping list: bread, milk, eggs.\n").repeated(400)) &&
               makeZip(others[3], u"table.csv"_s, QByteArray("row;of;numbers;1234\n").repeated(500)) &&
               makeFatImage(image, 32 * kMiB, pictures + others, deletedPictures + QStringList{u"old.pdf"_s});
    }
    QString original(const QString& name) const { return scratch.filePath(u"files/"_s + name); }
};

// QTemporaryDir removes only what Qt can name, which a name that is not UTF-8 is not.
struct RemovedAtEnd {
    std::string path;
    ~RemovedAtEnd() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

struct Mounted {
    QString point;
    bool mounted = false;
    ~Mounted() {
        if (mounted)
            ::umount2(QFile::encodeName(point).constData(), MNT_DETACH);
    }
};

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

    std::unique_ptr<SlowCard> slow_;
    std::unique_ptr<MixedCard> mixed_;

    // Made on first use, so that a case run alone makes only what it needs; null when it
    // could not be made (a warning said why).
    template <typename Card> static Card* made(std::unique_ptr<Card>& card) {
        if (!card) {
            card = std::make_unique<Card>();
            if (!card->make())
                card.reset();
        }
        return card.get();
    }

  private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program()));
        const QString resources = QFileInfo(program()).absolutePath() + u"/../share/vellorin"_s;
        if (!QFileInfo(resources + u"/photorec"_s).isExecutable())
            QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
    }

    void helpAndVersionGoToStandardOutput() {
        for (const QString& asked : {u"--help"_s, u"-h"_s}) {
            const Ran ran = recover({asked});
            QCOMPARE(ran.status, 0);
            QVERIFY2(ran.out.startsWith("Usage: vellorin-recover SOURCE SAVE_LOCATION [options]\n") &&
                         ran.err.isEmpty(),
                     qPrintable(ran.told()));
            for (const char* option :
                 {"--deep", "--copy", "--all-files", "--kinds", "--free-space", "--no-names", "--resume",
                  "--start-over", "--sort-into-folders", "--json", "--version"})
                QVERIFY2(ran.out.contains(option), option);
        }
        const Ran version = recover({u"--version"_s});
        QCOMPARE(version.status, 0);
        QVERIFY2(QRegularExpression(u"^vellorin-recover \\d+\\.\\d+\\.\\d+\n$"_s)
                         .match(QString::fromUtf8(version.out))
                         .hasMatch() &&
                     version.err.isEmpty(),
                 qPrintable(version.told()));
    }

    void badUsageExitsTwoWithAHintAndTouchesNothing_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        const QString src = u"@src"_s, save = u"@save"_s;
        QTest::newRow("unknown option") << QStringList{u"--bogus"_s, src, save} << u"bogus"_s;
        QTest::newRow("nothing") << QStringList{} << u"Missing the source and the save location"_s;
        QTest::newRow("no save location") << QStringList{src} << u"Missing the save location"_s;
        QTest::newRow("three places") << QStringList{src, save, u"extra"_s} << u"\"extra\""_s;
        QTest::newRow("empty path") << QStringList{src, u""_s} << u"empty path"_s;
        QTest::newRow("no --kinds value") << QStringList{src, save, u"--kinds"_s} << u"kinds"_s;
        QTest::newRow("--deep and --copy")
            << QStringList{src, save, u"--deep"_s, u"--copy"_s} << u"--deep and --copy"_s;
        QTest::newRow("--resume and --start-over")
            << QStringList{src, save, u"--resume"_s, u"--start-over"_s} << u"--resume and --start-over"_s;
        QTest::newRow("deep options with --copy")
            << QStringList{u"--copy"_s, u"--kinds=pictures"_s, src, save} << u"--copy"_s;
        QTest::newRow("--all-files with --deep")
            << QStringList{src, save, u"--deep"_s, u"--all-files"_s} << u"--all-files"_s;
        QTest::newRow("unknown kind")
            << QStringList{src, save, u"--kinds"_s, u"pictures,spreadsheets"_s} << u"spreadsheets"_s;
        QTest::newRow("no kind") << QStringList{src, save, u"--kinds"_s, u","_s} << u"--kinds"_s;
    }

    void badUsageExitsTwoWithAHintAndTouchesNothing() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        QTemporaryDir scratch;
        writeFile(scratch.filePath(u"src/picture.jpg"_s), "pixels");
        QVERIFY(QDir().mkpath(scratch.filePath(u"save"_s)));
        arguments.replaceInStrings(u"@src"_s, scratch.filePath(u"src"_s))
            .replaceInStrings(u"@save"_s, scratch.filePath(u"save"_s));

        const Ran ran = recover(arguments);
        QCOMPARE(ran.status, 2);
        // One line saying what is wrong, then the hint, and nothing more.
        const QList<QByteArray> said = ran.err.split('\n');
        QVERIFY2(ran.out.isEmpty() && said.size() == 3 && said[0].startsWith("vellorin-recover: ") &&
                     said[0].contains(problem.toUtf8()) &&
                     said[1] == "Try 'vellorin-recover --help' for more information.",
                 qPrintable(ran.told()));
        QCOMPARE(everything(scratch.path()), (QStringList{u"save"_s, u"src"_s, u"src/picture.jpg"_s}));
    }

    // Places the run must not use: refused before anything is written, the reason on
    // standard error and nothing on standard output.
    void unusablePlacesAreRefusedBeforeAnythingIsWritten_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("save");
        QTest::addColumn<QString>("why");
        QTest::newRow("save inside source") << u"src"_s << u"src/inner"_s << u"overlap"_s;
        QTest::newRow("source inside save") << u"save/inner"_s << u"save"_s << u"overlap"_s;
        QTest::newRow("the same folder") << u"src"_s << u"src/"_s << u"overlap"_s;
        QTest::newRow("save location missing") << u"src"_s << u"gone"_s << u"must exist"_s;
        QTest::newRow("save location is a file") << u"src"_s << u"src/picture.jpg"_s << u"not a folder"_s;
        QTest::newRow("source missing") << u"gone"_s << u"save"_s << u"gone: no such"_s;
        QTest::newRow("an image to copy") << u"card.img"_s << u"save"_s << u"leave out --copy"_s;
    }

    void unusablePlacesAreRefusedBeforeAnythingIsWritten() {
        QFETCH(QString, source);
        QFETCH(QString, save);
        QFETCH(QString, why);
        QTemporaryDir scratch;
        writeFile(scratch.filePath(u"src/picture.jpg"_s), "pixels");
        writeFile(scratch.filePath(u"src/inner/photo.png"_s), "pixels");
        writeFile(scratch.filePath(u"save/inner/photo.png"_s), "pixels");
        writeFile(scratch.filePath(u"card.img"_s), QByteArray(64 * 1024, '\0'));
        const QStringList before = everything(scratch.path());

        const Ran ran = recover({scratch.filePath(source), scratch.filePath(save), u"--copy"_s}, 60000);
        QCOMPARE(ran.status, 2);
        QVERIFY2(ran.out.isEmpty() && ran.err.startsWith("vellorin-recover: ") &&
                     ran.err.contains(why.toUtf8()),
                 qPrintable(ran.told()));
        QCOMPARE(everything(scratch.path()), before);
    }

    // Writing onto the very disk being searched would overwrite what is searched for: refused,
    // whether the source is named as the image or as the device it is attached to.
    void aSaveLocationOnTheSourceDiskIsRefused() {
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"card.img"_s);
        // ext4 rather than FAT, which not every kernel mounts.
        writeFile(image, QByteArray(16 * kMiB, '\0'));
        QVERIFY(runTool(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image}));
        Mounted card{scratch.filePath(u"mounted"_s)};
        QDir().mkpath(card.point);
        if (!runTool(u"mount"_s, {u"-o"_s, u"loop"_s, image, card.point}))
            QSKIP("this machine cannot mount a loop device");
        card.mounted = true;
        QByteArray device;
        QVERIFY(runTool(u"findmnt"_s, {u"-n"_s, u"-o"_s, u"SOURCE"_s, card.point}, &device));
        const QString save = card.point + u"/save"_s;
        QVERIFY(QDir().mkpath(save));

        for (const QString& source : {image, QString::fromLocal8Bit(device.trimmed())}) {
            const Ran ran = recover({source, save}, 60000);
            QCOMPARE(ran.status, 2);
            QVERIFY2(ran.err.contains("the disk being recovered") && ran.out.isEmpty(),
                     qPrintable(ran.told()));
            QVERIFY(everything(save).isEmpty());
        }
    }

    // A run that cannot do its work exits 1, and standard error says why in words a user can
    // act on, however hostile the names involved.
    void aRunThatFailsExitsOneAndSaysWhy_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("why");
        // Root may write anywhere but on a file system mounted read-only.
        QTest::newRow("read-only save location") << u"read-only"_s << u"Read-only file system"_s;
        // A folder in memory has no disk under it to search.
        QTest::newRow("folder on no disk") << u"memory"_s << u"The folder @ is not on a disk device"_s;
        QTest::newRow("folder on no disk, a line feed in its name")
            << u"memory, line feed"_s << u"The folder @ is not on a disk device"_s;
        QTest::newRow("disk failing mid-search")
            << u"failing"_s << u"recovered before the disk failed are kept"_s;
    }

    void aRunThatFailsExitsOneAndSaysWhy() {
        QFETCH(QString, failure);
        QFETCH(QString, why);
        QTemporaryDir scratch;
        QString source = scratch.filePath(u"src"_s);
        writeFile(source + u"/picture.jpg"_s, "pixels");
        QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        QStringList options{u"--copy"_s};
        Mounted readOnly{scratch.filePath(u"read-only"_s)};
        std::unique_ptr<QTemporaryDir> shm;
        std::unique_ptr<FailingDisk> disk;
        if (failure == u"read-only"_s) {
            QDir().mkpath(readOnly.point);
            readOnly.mounted = ::mount("tmpfs", QFile::encodeName(readOnly.point).constData(), "tmpfs",
                                       MS_RDONLY, "mode=0755") == 0;
            if (!readOnly.mounted)
                QSKIP("this machine cannot mount a tmpfs");
            save = readOnly.point;
        } else if (failure.startsWith(u"memory"_s)) {
            struct statfs memory {};
            if (::statfs("/dev/shm", &memory) != 0 || memory.f_type != TMPFS_MAGIC)
                QSKIP("/dev/shm is no tmpfs here");
            shm = std::make_unique<QTemporaryDir>(u"/dev/shm/vellorin-cli-XXXXXX"_s);
            source = shm->filePath(failure.endsWith(u"line feed"_s)
                                       ? u"photos\nof 2019"_s
                                       : u"photos \x1b[2J\x1b]0;owned\x07 \u009b1m"_s);
            writeFile(source + u"/picture.jpg"_s, "pixels");
            why.replace(u'@', shownAs(source));
            options = {u"--deep"_s};
        } else {
            QVERIFY(made(mixed_));
            disk = std::make_unique<FailingDisk>(mixed_->image, scratch.filePath(u"disk"_s),
                                                 QStringList{u"--bad"_s, QString::number(16 * kMiB)});
            QVERIFY(disk->serving());
            source = disk->file();
            options = {};
        }

        const Ran ran = recover(QStringList{source, save} + options);
        QCOMPARE(ran.status, 1);
        QVERIFY2(!holdsControlCodes(ran.err) && !holdsControlCodes(ran.out) &&
                     lines(ran.err).last().startsWith(u"vellorin-recover: "_s) &&
                     lines(ran.out).filter(QRegularExpression(u"^(Recovered|Finished|Stopped)"_s)).isEmpty(),
                 qPrintable(ran.told()));
        QVERIFY2(QString::fromUtf8(ran.err).contains(why), qPrintable(ran.told()));
    }

    void nothingFoundExitsThreeAndEveryFileCopiesTheRest() {
        QTemporaryDir scratch;
        writeFile(scratch.filePath(u"src/a.xyz"_s), "data");
        writeFile(scratch.filePath(u"src/deeper/b.unknownending"_s), "more data");
        writeFile(scratch.filePath(u"src/.hidden.jpg"_s), "pixels");
        writeFile(scratch.filePath(u"src/.cache/c.jpg"_s), "pixels");
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        const Ran ran = recover({scratch.filePath(u"src"_s), save, u"--copy"_s});
        QCOMPARE(ran.status, 3);
        QCOMPARE(lines(ran.out).last(), u"Finished: no files were found."_s);
        QVERIFY(visibleFiles(native(save)).empty());

        // Every file that is not hidden, whatever its ending, and still no hidden one.
        const Ran all = recover({scratch.filePath(u"src"_s), save, u"--copy"_s, u"--all-files"_s});
        QCOMPARE(all.status, 0);
        const std::map<std::string, QByteArray> wanted{{"a.xyz", "data"},
                                                       {"deeper/b.unknownending", "more data"}};
        QVERIFY(visibleFiles(native(save + u"/recovered_files"_s)) == wanted);
        const QStringList copied = everything(save + u"/recovered_files"_s);
        QVERIFY2(!copied.contains(u".hidden.jpg"_s) && !copied.contains(u".cache"_s),
                 qPrintable(copied.join(u' ')));
        QCOMPARE(lines(all.out).last(), u"Recovered 2 files into %1/recovered_files."_s.arg(save));
    }

    // Names a shell, a terminal or a path parser could misread are data: each recoverable file
    // arrives whole under the same bytes, and what is printed carries no control code of theirs.
    void aCopyKeepsHostileNamesExactly_data() {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("into a pipe") << false;
        QTest::newRow("on a terminal") << true;
    }

    void aCopyKeepsHostileNamesExactly() {
        QFETCH(bool, terminal);
        QTemporaryDir scratch;
        const RemovedAtEnd undecodable{native(scratch.path())};
        const std::string source = native(scratch.filePath(u"source"_s));
        const std::vector<std::string> recoverable{"line\nfeed.jpg",
                                                   "-leading dash.jpg",
                                                   "--help.png",
                                                   "back\\slash.jpg",
                                                   "quote'd \"both\".jpg",
                                                   "$(touch pwned).jpg",
                                                   "red \x1b[31mtext\x1b[0m.jpg",
                                                   "title \x1b]0;owned\x07.png",
                                                   "carriage\rreturn.jpg",
                                                   "csi \xc2\x9b"
                                                   "2J.jpg",
                                                   "\xff\xfe not utf-8.jpg",
                                                   std::string(251, 'n') + ".jpg",
                                                   " ../\xe2\x80\xa4\xe2\x80\xa4/escape.jpg",
                                                   "\xe2\x80\xa6/dots.jpg",
                                                   "deep/er \x1b[1A/still.mp4"};
        std::map<std::string, QByteArray> wanted;
        for (const std::string& name : recoverable) {
            wanted[name] = QByteArray::fromStdString("bytes of " + name);
            writeFile(source + '/' + name, wanted[name]);
        }
        for (const char* skipped : {"notes.xyz", ".hidden.jpg", ".thumbs/t.jpg"})
            writeFile(source + '/' + skipped, "not for the copy");
        // The save location's own name is printed in the summary.
        const QString save = scratch.filePath(u"save \x1b[31m\r\n here"_s);
        QVERIFY(QDir().mkpath(save));

        const QStringList arguments{QFile::decodeName(source.c_str()), save, u"--copy"_s};
        const Ran ran = terminal ? recoverOnTerminal(arguments, 100) : recover(arguments);
        QCOMPARE(ran.status, 0);
        QVERIFY2(visibleFiles(native(save + u"/recovered_files"_s)) == wanted, qPrintable(ran.told()));
        QVERIFY(!QFileInfo::exists(scratch.filePath(u"pwned"_s)) && !QFileInfo::exists(u"pwned"_s));

        const QByteArray shown = terminal ? TerminalOutput(ran.out).kept : ran.out;
        QVERIFY2(!holdsControlCodes(shown) && !holdsControlCodes(ran.err), qPrintable(ran.told()));
        QVERIFY(terminal || (!ran.out.contains('\x1b') && !ran.out.contains('\r')));
        QCOMPARE(lines(shown).last(),
                 u"Recovered %1 files into %2/recovered_files."_s.arg(recoverable.size()).arg(shownAs(save)));
    }

    // A path is its bytes, which need not be UTF-8: old cards' folders often are Latin-1.
    void aSourceNamedInBytesThatAreNotUtf8IsFound() {
        QTemporaryDir scratch;
        const RemovedAtEnd undecodable{native(scratch.path())};
        writeFile(native(scratch.path()) + "/Fotos M\xfcller/IMG_0001.jpg", "pixels");
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        // Through a shell, as a user types it: Qt itself cannot hand over such a name.
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(u"bash"_s, {u"-c"_s, u"exec \"$0\" \"$1\"$'/Fotos M\\xfcller' \"$2\" --copy"_s,
                                  program(), scratch.path(), save});
        Ran ran;
        finishInto(process, ran, 60000);
        // Paths are text to the workflow: a name that is not UTF-8 would become another name, so
        // the start is refused, saying what to do, and nothing is written.
        QCOMPARE(ran.status, 2);
        QVERIFY2(QString::fromUtf8(ran.err).contains(u"is not valid UTF-8. Give a link with a UTF-8 name"_s),
                 qPrintable(ran.told()));
        QVERIFY(QDir(save).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }

    // A reader that goes away, as "| head -1" does, leaves the run to finish its work.
    void aClosedOutputDoesNotEndTheRun() {
        QTemporaryDir scratch;
        for (int i = 0; i < 300; ++i)
            writeFile(scratch.filePath(u"src/f%1/IMG_%2.jpg"_s.arg(i % 10).arg(i)),
                      QByteArray(4096, char(i)));
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setChildProcessModifier([] {
            int closed[2];
            if (::pipe(closed) == 0) {
                ::dup2(closed[1], STDOUT_FILENO);
                ::close(closed[0]);
                ::close(closed[1]);
            }
            // As a shell starts it: a write to the closed pipe kills unless the program says not.
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            ::sigaction(SIGPIPE, &action, nullptr);
        });
        process.start(program(), {scratch.filePath(u"src"_s), save, u"--copy"_s});
        Ran ran;
        finishInto(process, ran, 120000);
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, "killed by its closed output");
        QCOMPARE(ran.status, 0);
        QCOMPARE(visibleFiles(native(save + u"/recovered_files"_s)).size(), std::size_t(300));
    }

    // One object a line, from "started" to "finished", whose files are those on disk.
    void jsonIsOneObjectALineAndListsTheFilesOnDisk_data() {
        QTest::addColumn<bool>("deep");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QString>("saveName");
        QTest::newRow("copy") << false << false << u"save"_s;
        QTest::newRow("copy into a name with a line feed") << false << false << u"save\nhere"_s;
        QTest::newRow("deep search") << true << false << u"save"_s;
        QTest::newRow("deep search, sorted") << true << true << u"save"_s;
    }

    void jsonIsOneObjectALineAndListsTheFilesOnDisk() {
        QFETCH(bool, deep);
        QFETCH(bool, sorted);
        QFETCH(QString, saveName);
        QTemporaryDir scratch;
        QString source = scratch.filePath(u"src"_s);
        if (deep) {
            QVERIFY(made(mixed_));
            source = mixed_->image;
        } else {
            QDir().mkpath(source + u"/DCIM"_s);
            makePictures(source + u"/DCIM"_s, 5);
            writeFile(source + u"/docs/letter \"1\".pdf"_s, "%PDF-1.4 letter");
        }
        const QString save = scratch.filePath(saveName);
        QVERIFY(QDir().mkpath(save));
        const QString directory = save + u"/recovered_files"_s;
        QStringList arguments{source, save, deep ? u"--deep"_s : u"--copy"_s, u"--json"_s};
        if (sorted)
            arguments << u"--sort-into-folders"_s;
        const Ran ran = recover(arguments);
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.err.isEmpty() && ran.out.endsWith('\n'), qPrintable(ran.told()));

        QList<QJsonObject> events;
        for (const QByteArray& line : ran.out.trimmed().split('\n')) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line, &error);
            QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line.constData());
            events.append(document.object());
            QVERIFY2(
                QStringList({u"started"_s, u"log"_s, u"progress"_s, u"file"_s, u"moved"_s, u"finished"_s})
                    .contains(events.last().value(u"event"_s).toString()),
                line.constData());
        }
        QCOMPARE(events.first().value(u"event"_s).toString(), u"started"_s);
        QCOMPARE(events.first().value(u"mode"_s).toString(), deep ? u"deep"_s : u"copy"_s);
        const QJsonObject finished = events.last();
        QCOMPARE(finished.value(u"event"_s).toString(), u"finished"_s);
        QCOMPARE(finished.value(u"exitStatus"_s).toInt(-1), 0);
        QCOMPARE(finished.value(u"end"_s).toString(), u"recovered"_s);

        // Each file told once, and each move of one told from its path to a new one.
        QSet<QString> told;
        qsizetype moves = 0;
        for (const QJsonObject& event : events) {
            const QString kind = event.value(u"event"_s).toString();
            if (kind == u"moved"_s) {
                const QString from = event.value(u"from"_s).toString(), to = event.value(u"to"_s).toString();
                QVERIFY2(told.remove(from) && to.startsWith(directory + u'/') && !told.contains(to),
                         qPrintable(from + u" -> "_s + to));
                told.insert(to);
                ++moves;
                continue;
            }
            if (kind != u"file"_s)
                continue;
            const QString path = event.value(u"path"_s).toString();
            QVERIFY2(path.startsWith(directory + u'/') && !told.contains(path), qPrintable(path));
            told.insert(path);
        }
        QStringList gone;
        for (const QString& path : told)
            if (!QFileInfo(path).isFile())
                gone.append(path);
        QCOMPARE(moves > 0, sorted);
        const std::size_t onDisk = visibleFiles(native(directory)).size();
        QVERIFY(onDisk > 0);
        QCOMPARE(finished.value(u"recovered"_s).toInteger(-1), qint64(onDisk));
        QCOMPARE(std::size_t(told.size() - gone.size()), onDisk);
        if (sorted)
            QVERIFY(QDir(directory + u"/Pictures"_s).exists());
        QVERIFY2(gone.isEmpty(), qPrintable(u"told of, not on disk: "_s + gone.join(u", "_s)));
        if (sorted)
            QVERIFY2(finished.value(u"sorted"_s).toString().startsWith(u"Sorted "_s), qPrintable(ran.told()));
        QCOMPARE(finished.value(u"recoveryDirectory"_s).toString(), directory);
    }

    // The pictures of a formatted card, deleted ones too, each found whole and once; nothing
    // else is carved when only pictures are asked for.
    void aDeepSearchForPicturesFindsEveryPictureOnceAndNothingElse() {
        QVERIFY(made(mixed_));
        QTemporaryDir scratch;
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        const QString directory = save + u"/recovered_files"_s;
        const Ran ran = recover({mixed_->image, save, u"--kinds"_s, u"pictures"_s});
        QCOMPARE(ran.status, 0);

        // Deleted ones by their names first, then the carver's finds, less what they repeat.
        const QStringList found = visibleFileHashes(directory);
        for (const QString& hash : hashesOf(mixed_->pictures))
            QVERIFY2(found.count(hash) == 1,
                     qPrintable(u"found %1 times\n"_s.arg(found.count(hash)) + ran.told()));
        const QStringList named = visibleFileHashes(directory + u"/Deleted files"_s);
        for (const QString& deleted : mixed_->deletedPictures)
            QVERIFY2(named.contains(QString::fromLatin1(sha256Of(mixed_->original(deleted)))),
                     qPrintable(deleted));
        const QStringList others = hashesOf(mixed_->others);
        for (const QString& folder : QDir(directory).entryList({u"recup_dir.*"_s}, QDir::Dirs))
            for (const auto& [path, bytes] : visibleFiles(native(directory + u'/' + folder))) {
                const QString hash =
                    QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
                QVERIFY2(!others.contains(hash) && !bytes.startsWith("%PDF") &&
                             !bytes.startsWith("PK\x03\x04") &&
                             QRegularExpression(u"^f\\d+\\.(jpg|png)$"_s)
                                 .match(QFile::decodeName(path.c_str()))
                                 .hasMatch(),
                         path.c_str());
            }
        QVERIFY2(!holdsControlCodes(ran.out), qPrintable(ran.told()));
        QCOMPARE(lines(ran.out).last(), u"Recovered %1 files into %2."_s.arg(found.size()).arg(directory));
    }

    // Only the space no file uses: the deleted pictures come back, the ones in use do not.
    void freeSpaceOnlyFindsWhatWasDeleted() {
        QVERIFY(made(mixed_));
        QTemporaryDir scratch;
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        const Ran ran =
            recover({mixed_->image, save, u"--free-space"_s, u"--no-names"_s, u"--kinds=pictures"_s});
        QCOMPARE(ran.status, 0);
        QStringList deleted;
        for (const QString& name : mixed_->deletedPictures)
            deleted << mixed_->original(name);
        deleted = hashesOf(deleted);
        deleted.sort();
        QCOMPARE(visibleFileHashes(save + u"/recovered_files"_s), deleted);
    }

    // A path is data to its last byte: a source whose name ends in a line feed is the one
    // searched, not a namesake without it.
    void aSourceNameEndingInALineFeedIsTheOneSearched() {
        QVERIFY(made(mixed_));
        QTemporaryDir scratch;
        const QString image = scratch.filePath(u"card.img\n"_s);
        QVERIFY(QFile::copy(mixed_->image, image));
        QVERIFY(makeFatImage(scratch.filePath(u"card.img"_s), 8 * kMiB, {})); // no picture at all
        const QString save = scratch.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        const Ran ran = recover({image, save, u"--no-names"_s, u"--kinds=pictures"_s});
        QCOMPARE(ran.status, 0);
        const QStringList found = visibleFileHashes(save + u"/recovered_files"_s);
        for (const QString& hash : hashesOf(mixed_->pictures))
            QVERIFY2(found.contains(hash), qPrintable(ran.told()));
    }

    // As root, everything is done as the save location's owner, so that each file is theirs
    // to keep or delete and nothing of root's lands in their folder. The source may be one
    // only root can reach: root opens it before it gives up its rights.
    void asRootTheFilesBelongToTheSaveLocationsOwner_data() {
        QTest::addColumn<QString>("source");
        QTest::newRow("copy") << u"copy"_s;
        QTest::newRow("deep search") << u"image"_s;
        QTest::newRow("deep search of an image only root reaches") << u"private image"_s;
    }

    void asRootTheFilesBelongToTheSaveLocationsOwner() {
        QFETCH(QString, source);
        if (::geteuid() != 0)
            QSKIP("only root gives up its rights");
        const struct passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody && made(mixed_));
        QTemporaryDir scratch;
        const QFileDevice::Permissions owner =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        const QFileDevice::Permissions open = owner | QFileDevice::ReadOther | QFileDevice::ExeOther;
        // Others pass through, as through a home folder.
        QVERIFY(QFile::setPermissions(scratch.path(), owner | QFileDevice::ExeOther));
        const QString save = scratch.filePath(u"theirs"_s);
        QVERIFY(QDir().mkpath(save));
        QCOMPARE(::chown(QFile::encodeName(save).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        const QString folder = scratch.filePath(source == u"private image"_s ? u"private"_s : u"open"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, source == u"private image"_s ? owner : open));
        QString from = folder + u"/card.img"_s;
        QStringList options{u"--kinds=pictures"_s};
        QStringList pictures = mixed_->pictures;
        if (source == u"copy"_s) {
            from = folder + u"/DCIM"_s;
            QVERIFY(QDir().mkpath(from));
            pictures = makePictures(from, 3);
            options = {u"--copy"_s};
        } else {
            QVERIFY(QFile::copy(mixed_->image, from));
        }

        // The program laid out as installed, where nobody may reach it: the build folder may
        // lie below one only root may enter.
        const QString tree = scratch.filePath(u"install"_s);
        copyEngineFolder(tree);
        QVERIFY(QDir().mkpath(tree + u"/bin"_s));
        QVERIFY(QFile::copy(program(), tree + u"/bin/vellorin-recover"_s));
        QVERIFY(QFile::setPermissions(tree + u"/bin/vellorin-recover"_s, open | QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(tree + u"/bin"_s, open));
        // ThreadSanitizer's suppressions, read again by every instrumented helper the run starts
        // as nobody, must be where nobody can read them.
        const QString tsan = qEnvironmentVariable("TSAN_OPTIONS");
        qputenv("TSAN_OPTIONS", tsanOptionsReadableIn(tree).toUtf8());
        const Ran ran = recover(QStringList{from, save} + options, 240000, tree + u"/bin/vellorin-recover"_s);
        qputenv("TSAN_OPTIONS", tsan.toUtf8());
        if (source == u"private image"_s) {
            // The search names its source by path: refused, saying why, before anything is written.
            QCOMPARE(ran.status, 2);
            QVERIFY2(ran.err.contains("nobody cannot reach "), qPrintable(ran.told()));
            QVERIFY(
                QDir(save).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
            return;
        }
        QCOMPARE(ran.status, 0);
        QVERIFY2(ran.err.contains("Running as nobody"), qPrintable(ran.told()));
        const QStringList found = visibleFileHashes(save + u"/recovered_files"_s);
        for (const QString& hash : hashesOf(pictures))
            QVERIFY(found.contains(hash));
        int entries = 0;
        for (const QString& entry : everything(save)) {
            struct stat owned {};
            QCOMPARE(::lstat(QFile::encodeName(save + u'/' + entry).constData(), &owned), 0);
            QVERIFY2(owned.st_uid == nobody->pw_uid, qPrintable(entry));
            ++entries;
        }
        QVERIFY(entries > 3);
    }

    // On a terminal one progress line is redrawn in place, never wider than the terminal, and
    // gives way to the summary; through a pipe the same run prints plain lines only.
    void progressIsRedrawnOnATerminalOnly() {
        QVERIFY(made(slow_));
        QTemporaryDir scratch;
        // Slow enough for the progress to be told many times, in each of its phases.
        FailingDisk disk(slow_->image, scratch.filePath(u"disk"_s), {u"--rate"_s, u"80e6"_s});
        QVERIFY(disk.serving());
        const QString onTerminal = scratch.filePath(u"terminal"_s);
        const QString inPipe = scratch.filePath(u"pipe"_s);
        QVERIFY(QDir().mkpath(onTerminal) && QDir().mkpath(inPipe));
        const auto summary = [](const QString& save) {
            return u"Recovered %1 files into %2/recovered_files.\n"_s
                .arg(visibleFileHashes(save + u"/recovered_files"_s).size())
                .arg(save)
                .toUtf8();
        };

        constexpr unsigned short kColumns = 42;
        const Ran shown = recoverOnTerminal({disk.file(), onTerminal, u"--no-names"_s}, kColumns);
        QCOMPARE(shown.status, 0);
        const TerminalOutput screen(shown.out);
        QVERIFY2(!screen.progressLines.filter(u"% read"_s).isEmpty(), qPrintable(shown.told()));
        // Cut to fit rather than wrapped, which would leave the redraw on the wrong row.
        QVERIFY2(!screen.progressLines.filter(QChar(0x2026)).isEmpty(),
                 qPrintable(screen.progressLines.join(u'\n')));
        for (const QString& line : screen.progressLines)
            QVERIFY2(line.size() < kColumns && (line.contains(u" found"_s) || line.endsWith(QChar(0x2026))),
                     qPrintable(line));
        QVERIFY2(!holdsControlCodes(screen.kept), qPrintable(shown.told()));
        // The summary is the last thing on the screen, on a line of its own.
        QVERIFY2(shown.out.endsWith(summary(onTerminal)), qPrintable(shown.told()));

        const Ran piped = recover({disk.file(), inPipe, u"--no-names"_s});
        QCOMPARE(piped.status, 0);
        QVERIFY2(!piped.out.contains('\x1b') && !piped.out.contains('\r') && piped.out.contains("% read") &&
                     piped.out.endsWith(summary(inPipe)),
                 qPrintable(piped.told()));
    }

    // Ctrl+C, a kill or a closed session mid-search: every program the run started gone within
    // two seconds and the program soon after, its source view unmounted, the files found so far
    // kept whole, the summary says where; the search is then picked up, or started over.
    void aStopSignalEndsEveryProgramOfTheRunAndKeepsTheFiles_data() {
        QTest::addColumn<QList<int>>("signalsSent");
        QTest::addColumn<bool>("atOnce");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("then");
        QTest::newRow("Ctrl+C") << QList<int>{SIGINT} << false << 130 << u"--resume"_s;
        // A second press while the first is honoured must not cut the stop short.
        QTest::newRow("Ctrl+C twice") << QList<int>{SIGINT, SIGINT} << false << 130 << u"--resume"_s;
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << false << 143 << u"--start-over"_s;
        QTest::newRow("hang-up") << QList<int>{SIGHUP} << false << 129 << u"--resume"_s;
        QTest::newRow("Ctrl+C before the engine runs") << QList<int>{SIGINT} << true << 130 << u"--resume"_s;
    }

    void aStopSignalEndsEveryProgramOfTheRunAndKeepsTheFiles() {
        QFETCH(QList<int>, signalsSent);
        QFETCH(bool, atOnce);
        QFETCH(int, status);
        QFETCH(QString, then);
        QVERIFY(made(slow_));
        QTemporaryDir scratch;
        auto disk = std::make_unique<FailingDisk>(slow_->image, scratch.filePath(u"disk"_s),
                                                  QStringList{u"--rate"_s, u"20e6"_s});
        QVERIFY(disk->serving());
        const QString save = scratch.filePath(u"save-location"_s);
        QVERIFY(QDir().mkpath(save));
        const QString directory = save + u"/recovered_files"_s;

        LiveRun run({disk->file(), save, u"--kinds=pictures"_s}, save);
        QVERIFY2(run.readUntil(
                     [&] {
                         return atOnce ? run.out.contains("Starting data recovery")
                                       : run.out.contains(kEngineStarted) &&
                                             visibleFiles(native(directory)).size() >= 3;
                     },
                     atOnce ? 5 : 100),
                 run.out.constData());
        const QStringList views = run.views();
        QVERIFY2(atOnce || (views.size() == 1 && isMounted(views.first())), qPrintable(views.join(u' ')));

        QElapsedTimer stopping;
        stopping.start();
        for (const int signal : signalsSent) {
            QCOMPARE(::kill(static_cast<pid_t>(run.process.processId()), signal), 0);
            run.process.waitForReadyRead(200);
        }
        const LiveRun::Ended ended = run.endAfter(stopping);
        const Ran ran = run.finish();
        QVERIFY2(ended.programs >= 0 && ended.programs <= 2000 && ended.itself >= 0,
                 qPrintable(
                     u"the run's programs ended after %1 ms, the program after %2 ms\n"_s.arg(ended.programs)
                         .arg(ended.itself) +
                     ran.told()));
        QCOMPARE(ran.status, status);
        for (const QString& view : views)
            QVERIFY(!isMounted(view));

        // Every file kept is one of the card's pictures, whole.
        const QStringList kept = visibleFileHashes(directory);
        const QStringList pictures = hashesOf(slow_->pictures);
        QVERIFY(atOnce || kept.size() >= 3);
        QVERIFY2(kept.size() < pictures.size(), "the search ran to its end before it was stopped");
        for (const auto& [path, bytes] : visibleFiles(native(directory)))
            QVERIFY2(
                pictures.contains(
                    QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())),
                qPrintable(u"%1 (%2 bytes) is no picture of the card\n"_s.arg(QFile::decodeName(path.c_str()))
                               .arg(bytes.size()) +
                           ran.told()));
        const QString files = kept.size() == 1 ? u"1 file"_s : u"%1 files"_s.arg(kept.size());
        QCOMPARE(lines(ran.out).last(), u"Stopped: the %1 found so far are in %2."_s.arg(files, directory));

        // Later, from a disk at full speed: each picture once after a resume; after a fresh
        // start every picture again, beside what the stopped run found.
        disk.reset();
        disk = std::make_unique<FailingDisk>(slow_->image, scratch.filePath(u"disk"_s), QStringList{});
        QVERIFY(disk->serving());
        const Ran again = recover({disk->file(), save, u"--kinds=pictures"_s, then});
        QCOMPARE(again.status, 0);
        const QStringList found = visibleFileHashes(directory);
        for (const QString& hash : pictures)
            QVERIFY2(found.count(hash) == (then == u"--resume"_s ? 1 : 1 + kept.count(hash)),
                     qPrintable(u"found %1 times\n"_s.arg(found.count(hash)) + again.told()));
    }

    // A whole run killed half way is not silently redone: the next run leaves the choice to
    // the user, and --resume then finds the rest, each picture once across both runs.
    void aKilledSearchIsResumedOnlyWhenAsked() {
        QVERIFY(made(slow_));
        QTemporaryDir scratch;
        FailingDisk disk(slow_->image, scratch.filePath(u"disk"_s), {u"--rate"_s, u"40e6"_s});
        QVERIFY(disk.serving());
        const QString save = scratch.filePath(u"save-location"_s);
        QVERIFY(QDir().mkpath(save));
        const QString directory = save + u"/recovered_files"_s;

        LiveRun run({disk.file(), save, u"--no-names"_s, u"--json"_s}, save);
        double share = 0;
        qsizetype parsed = 0;
        QVERIFY2(run.readUntil([&] {
            for (qsizetype end = run.out.indexOf('\n', parsed); end >= 0;
                 end = run.out.indexOf('\n', parsed)) {
                const QJsonObject event = QJsonDocument::fromJson(run.out.mid(parsed, end - parsed)).object();
                parsed = end + 1;
                if (event.value(u"phase"_s).toString() == u"searching"_s)
                    share = std::max(share, event.value(u"share"_s).toDouble());
            }
            return share >= 0.5;
        }),
                 qPrintable(u"share %1"_s.arg(share)));
        QVERIFY2(share < 0.9, qPrintable(u"share %1"_s.arg(share)));
        const QStringList views = run.views();
        QCOMPARE(views.size(), 1);
        run.killEverything();
        QVERIFY(run.process.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(processesNaming(run.needle).isEmpty(), 10000);
        const QStringList firstRun = visibleFileHashes(directory);
        QVERIFY(!firstRun.isEmpty());

        const Ran asked = recover({disk.file(), save, u"--no-names"_s}, 120000);
        QCOMPARE(asked.status, 2);
        QVERIFY2(asked.err.contains("--resume") && asked.err.contains("--start-over"),
                 qPrintable(asked.told()));
        QCOMPARE(visibleFileHashes(directory), firstRun);

        const Ran resumed = recover({disk.file(), save, u"--no-names"_s, u"--resume"_s});
        QCOMPARE(resumed.status, 0);
        const QStringList found = visibleFileHashes(directory);
        for (const QString& hash : hashesOf(slow_->pictures))
            QVERIFY2(found.count(hash) == 1,
                     qPrintable(u"found %1 times\n"_s.arg(found.count(hash)) + resumed.told()));
        QVERIFY2(lines(resumed.out).last().startsWith(u"Recovered "_s), qPrintable(resumed.told()));
        // The view the killed run left mounted is cleaned up by a later one.
        QVERIFY(!isMounted(views.first()));
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_cli.moc"
