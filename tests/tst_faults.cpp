// The recovery under faults a user's machine can throw at it: a process killed mid-copy, a
// save location that fills up, hostile names, a source that
// vanishes, and an engine that dies or floods its output. Throughout, the source is never
// written and no file under a recovered name differs from its source.

#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <filesystem>
#include <map>
#include <thread>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

constexpr char kChildSource[] = "VELLORIN_FAULT_SOURCE";
constexpr char kChildSave[] = "VELLORIN_FAULT_SAVE";

// A tree by relative path in the file system's own bytes: type ('f' file, 'd' folder, 'l'
// link, 'o' other), mode, and content (a link's target); with skipHidden, without anything
// hidden or below something hidden.
struct RawEntry {
    char type;
    unsigned mode;
    QByteArray content;
    bool operator==(const RawEntry&) const = default;
};
using RawTree = std::map<std::string, RawEntry>;

RawTree readRawTree(const QString& root, bool skipHidden = false) {
    namespace fs = std::filesystem;
    RawTree tree;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(native(root), ec), end; it != end; it.increment(ec)) {
        const std::string path = it->path().lexically_relative(native(root));
        if (skipHidden && ("/" + path).find("/.") != std::string::npos)
            continue;
        const fs::file_status status = it->symlink_status(ec);
        const char type = fs::is_regular_file(status) ? 'f'
                          : fs::is_directory(status)  ? 'd'
                          : fs::is_symlink(status)    ? 'l'
                                                      : 'o';
        const QByteArray link =
            type == 'l' ? QByteArray::fromStdString(fs::read_symlink(it->path(), ec)) : QByteArray();
        tree[path] = {type, unsigned(status.permissions()), type == 'f' ? readFile(it->path()) : link};
    }
    return tree;
}

// Every file under a recovered name (temporaries are hidden) is its source, byte for byte;
// with complete, every file of the source has its copy.
void verifyCopies(const RawTree& source, const QString& recovered, bool complete = false) {
    const RawTree copies = readRawTree(recovered, true);
    for (const auto& [path, entry] : copies)
        QVERIFY2(entry.type == 'd' || (source.count(path) && source.at(path) == entry), path.c_str());
    for (const auto& [path, entry] : source)
        QVERIFY2(!complete || entry.type == 'd' || copies.count(path), path.c_str());
}

// A simplified recovery, start to end, in this process: what the killed child runs.
int runChildRecovery() {
    Scratch child;
    child.source = qEnvironmentVariable(kChildSource), child.save = qEnvironmentVariable(kChildSave);
    return child.run(600000) ? 0 : 3;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

  private slots:

    void killedRunsNeverLeaveADamagedCopy() {
        Scratch scratch;
        // Files large enough that a kill lands inside a copy as often as between two.
        QRandomGenerator random(20261207);
        for (int i = 0; i < 40; ++i) {
            QByteArray bytes(random.bounded(4096, 3 << 20), Qt::Uninitialized);
            for (char& c : bytes)
                c = static_cast<char>(random.generate());
            writeFile(scratch.source + u"/roll%1/IMG_%2.JPG"_s.arg(i % 4).arg(i), bytes);
        }
        const RawTree source = readRawTree(scratch.source);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildSource), scratch.source);
        env.insert(QString::fromLatin1(kChildSave), scratch.save);
        // The first run and the last are whole; the first times a run, so that the twenty kills
        // between spread over all of one.
        qint64 wholeRun = 0;
        for (int run = 0; run < 22; ++run) {
            const bool killed = run > 0 && run < 21;
            QElapsedTimer clock;
            clock.start();
            QProcess child;
            child.setProcessEnvironment(env);
            child.setStandardOutputFile(QProcess::nullDevice());
            child.start(QCoreApplication::applicationFilePath());
            QVERIFY(child.waitForStarted());
            if (killed) {
                QThread::msleep(static_cast<unsigned long>(random.bounded(wholeRun)));
                child.kill();
            }
            QVERIFY(child.waitForFinished(600000));
            QVERIFY(killed || child.exitCode() == 0);
            if (run == 0) {
                wholeRun = std::max<qint64>(clock.elapsed(), 50);
                QVERIFY(QDir(scratch.recovered).removeRecursively());
            }
            verifyCopies(source, scratch.recovered, run == 21);
            if (QTest::currentTestFailed())
                return qWarning("after run %d", run);
        }
        // The source untouched, and the killed runs' temporaries gone with the last run.
        QVERIFY(readRawTree(scratch.source) == source &&
                listTree(scratch.recovered).filter(u".vellorin-"_s).isEmpty());
    }

    void aSaveLocationThatFillsUpFailsEachCopyCleanly() {
        Scratch scratch;
        if (::mount("tmpfs", native(scratch.save).c_str(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("a small file system cannot be mounted here (needs root)");
        const auto unmount = qScopeGuard([&] { ::umount2(native(scratch.save).c_str(), MNT_DETACH); });
        const std::pair<const char*, int> files[]{
            {"a.jpg", 300000}, {"b.jpg", 700000}, {"c/c.png", 600000}, {"d.pdf", 900000}, {"e.txt", 100}};
        for (const auto& [name, size] : files)
            writeFile(scratch.source + u'/' + QLatin1String(name), QByteArray(size, 'x'));
        const RawTree source = readRawTree(scratch.source);
        QVERIFY(scratch.run());

        const QStringList failures = scratch.log().filter(u"✗ Copy failed: "_s);
        QVERIFY2(!failures.isEmpty(), qPrintable(scratch.log().join(u'\n')));
        for (const QString& line : failures)
            QVERIFY2(line.endsWith(u" - No space left on device"_s), qPrintable(line));
        // Each file was copied whole or reported, and nothing half-written stayed behind.
        const RawTree copies = readRawTree(scratch.recovered);
        const auto copied =
            std::count_if(copies.begin(), copies.end(), [](auto& item) { return item.second.type == 'f'; });
        QCOMPARE(copied + failures.size(), 5);
        QCOMPARE(scratch.model->recoveredCount(), copied);
        verifyCopies(source, scratch.recovered);
        QCOMPARE(scratch.model->statusMessage(), u"Recovery Completed!"_s);
        QVERIFY(readRawTree(scratch.source) == source);
    }

    void hostileNamesAreCopiedExactly() {
        Scratch scratch;
        const std::string root = native(scratch.source);
        std::vector<std::string> names{
            "with space.jpg",     "quote'd \"both\".jpg", "back\\slash.jpg",
            "$(touch pwned).jpg", "`touch pwned2`.png",   "-leading dash.jpg",
            "--help.pdf",         "line\nfeed.jpg",       "tab\there.mp3",
            "*glob?[x].txt",      "\xff\xfe invalid.jpg", "caf\xc3\xa9 \xf0\x9f\x93\xb7.jpg"};
        names.push_back(std::string(251, 'n') + ".jpg");
        for (const std::string& name : names)
            writeFile(root + "/" + name, QByteArray::fromStdString("bytes of " + name));
        const RawTree source = readRawTree(scratch.source);
        QVERIFY(scratch.run());

        QVERIFY2(scratch.log().filter(u"✗ Copy failed: "_s).isEmpty(), qPrintable(scratch.log().join(u'\n')));
        verifyCopies(source, scratch.recovered, true);
        QCOMPARE(scratch.model->recoveredCount(), qint64(names.size()));
        QVERIFY(!QFile::exists(u"pwned"_s) && !QFile::exists(u"pwned2"_s)); // names are data
        // The record of the name that is not UTF-8 shows it as readably as it can.
        const QString shown = scratch.recovered + u'/' + QFile::decodeName("\xff\xfe invalid.jpg");
        const auto& files = scratch.model->recoveredFiles();
        QVERIFY(std::any_of(files.begin(), files.end(), [&](auto& file) { return file.path() == shown; }));
        QVERIFY(readRawTree(scratch.source) == source);
    }

    void aSourceThatVanishesMidWalkEndsTheRunNormally() {
        Scratch scratch;
        for (int i = 0; i < 3000; ++i)
            writeFile(scratch.source + u"/f%1/g%2/IMG_%3.jpg"_s.arg(i % 30).arg(i % 7).arg(i), "pixels");
        const RawTree source = readRawTree(scratch.source);
        // The source goes away as soon as the first copy is listed.
        std::thread remover;
        RecoveryViewModel& model = *scratch.model;
        QObject::connect(&model, &RecoveryViewModel::recoveredFilesPrepended, &model, [&] {
            if (!remover.joinable())
                remover = std::thread([&] { std::filesystem::remove_all(native(scratch.source)); });
        });
        const bool ended = scratch.run();
        if (remover.joinable())
            remover.join();
        QVERIFY(ended);
        QVERIFY(scratch.log().contains(u"Scan completed!"_s));
        verifyCopies(source, scratch.recovered);
    }

    void twoItemsForOneNameKeepBothCopies() {
        // Two sources give one destination name, as a case-insensitive save location does: an
        // earlier run's copy is replaced, and the second copy of this run takes "stem (2).ext",
        // cut at a character boundary to fit a folder entry of 255 bytes.
        QTemporaryDir scratch;
        const std::string name = std::string(200, 'x') + "\xc3\xa9" + std::string(49, 'y') + ".jpg";
        const std::string out = native(scratch.filePath(u"out"_s));
        for (const char* from : {"one", "two"})
            writeFile(native(scratch.filePath(QString::fromLatin1(from))) + '/' + name, from);
        writeFile(out + '/' + name, "earlier run");
        struct CopyAll final : WalkVisitor {
            std::unique_ptr<TreeCopier> copier;
            std::vector<TreeCopier::Result> results;
            void visitFile(const WalkEntry& entry) override {
                results.push_back(
                    copier->copy(entry, std::get<EntryStat>(PosixFileSystem().statEntry(entry))));
            }
            void folderError(std::string_view, const Error&) override {}
            void entryError(std::string_view, const Error&) override {}
        } copyAll;
        PosixFileSystem fs;
        copyAll.copier = fs.makeCopier(QFile::decodeName(out.c_str()));
        QVERIFY(!fs.walk(scratch.filePath(u"one"_s), {}, copyAll) &&
                !fs.walk(scratch.filePath(u"two"_s), {}, copyAll));
        QCOMPARE(copyAll.results.size(), std::size_t(2));
        QVERIFY(readFile(copyAll.results[0].destination) == "one" &&
                readFile(copyAll.results[1].destination) == "two");
        const std::string given = copyAll.results[1].destination.substr(out.size() + 1);
        QVERIFY(given.size() <= 255 && given.ends_with(" (2).jpg"));
        QCOMPARE(QString::fromUtf8(given).toStdString(), given); // still valid UTF-8
    }

    void anEngineKilledMidRunEndsInFailure() {
        Scratch scratch;
        // The engine writes a file, then waits, as a user's `kill -9` would find it.
        const QString pidFile = scratch.dir.filePath(u"engine.pid"_s);
        scratch.useEngine("echo \"$$\" > '" + QFile::encodeName(pidFile) +
                          "'\nmkdir -p \"$3/recup_dir.1\"\nprintf 'x' > \"$3/recup_dir.1/f1.jpg\"\n"
                          "echo 'scanning'\nexec sleep 300\n");
        RecoveryWatcher watcher(*scratch.model);
        scratch.model->startRecovery(scratch.source, scratch.save);
        QTRY_VERIFY_WITH_TIMEOUT(scratch.log().contains(u"PhotoRec: scanning"_s), 20000);
        QCOMPARE(::kill(readFile(native(pidFile)).trimmed().toInt(), SIGKILL), 0);
        QVERIFY(watcher.waitForEnd(30000));

        QCOMPARE(scratch.log().mid(scratch.log().size() - 2),
                 (QStringList{u"PhotoRec: scanning"_s, u"Error occurred during recovery (Exit code: 9)"_s}));
        QCOMPARE(scratch.model->statusMessage(), u"Recovery failed, check logs"_s);
        QCOMPARE(scratch.model->statusColor(), RecoveryViewModel::StatusColor::Red);
        QCOMPARE(scratch.model->recoveredCount(), 1);
        QVERIFY(scratch.test.alerts->shown.empty());
    }

    void aFloodOfEngineOutputReachesTheLogWhole() {
        Scratch scratch;
        scratch.useEngine("for ((i = 0; i < 200000; i++)); do echo \"line $i of the engine output\"; done\n"
                          "echo 'flood over'\n");
        QVERIFY(scratch.run(300000));
        // Each echo is one write of a whole line, and pipe writes that small are never split: every
        // line must be there, whole and in order, however the reads grouped them.
        const QString text = scratch.model->logText();
        static const QRegularExpression numbered(u"line (\\d+) of the engine output"_s);
        int expected = 0;
        qsizetype at = 0;
        for (auto match = numbered.globalMatch(text); match.hasNext(); ++expected) {
            const auto found = match.next();
            QCOMPARE(found.captured(1).toInt(), expected);
            at = found.capturedEnd();
        }
        QCOMPARE(expected, 200000);
        QVERIFY(text.indexOf(u"flood over"_s, at) > at);
        QCOMPARE(scratch.model->statusMessage(), u"Recovery Completed!"_s);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildSource))
        return runChildRecovery();
    FaultsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
