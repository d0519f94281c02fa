// The recovery under faults a user's machine can throw at it: a process killed mid-copy, a
// save location that fills up, hostile names, special files, a source that vanishes, and an
// engine that dies or floods its output. Throughout, the source is never written and no file
// under a recovered name differs from its source.

#include "platform/FileCopier.h"
#include "platform/TreeWalk.h"
#include "support/DeepRun.h"
#include "support/Fakes.h"
#include "support/RawTree.h"
#include "support/TreeHelpers.h"
#include "workflow/ViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <filesystem>
#include <thread>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

constexpr char kChildSource[] = "VELLORIN_FAULT_SOURCE";
constexpr char kChildSave[] = "VELLORIN_FAULT_SAVE";

// A simplified recovery, start to end, in this process: what the killed child runs.
int runChildRecovery() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    const auto model = RecoveryViewModel::create(test.platform());
    RecoveryWatcher watcher(*model);
    model->startRecovery(qEnvironmentVariable(kChildSource), qEnvironmentVariable(kChildSave));
    return watcher.waitForEnd(600000) ? 0 : 3;
}

struct Scratch {
    QTemporaryDir dir;
    QString source = dir.filePath(QStringLiteral("source"));
    QString save = dir.filePath(QStringLiteral("save"));
    Scratch() {
        QDir().mkpath(source);
        QDir().mkpath(save);
    }
    // QDir cannot remove names that are not valid UTF-8 or paths beyond PATH_MAX.
    ~Scratch() { QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), dir.path()}); }
    QString recovered() const { return save + QStringLiteral("/recovered_files"); }
};

// One simplified recovery through startRecovery, in this process.
struct Recovery {
    TestPlatform test;
    std::shared_ptr<RecoveryViewModel> model;
    explicit Recovery(const QString& scratch) : test(scratch) {}
    bool run(const QString& source, const QString& save, int timeoutMs = 120000) {
        model = RecoveryViewModel::create(test.platform());
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(timeoutMs);
    }
    QStringList log() const { return logMessages(model->logText()); }
};

// Every file under a recovered name (temporaries are hidden) is byte for byte its source.
void verifyNoDamagedCopy(const RawTree& source, const QString& recovered) {
    for (const auto& [path, entry] : readRawTree(recovered, true)) {
        if (entry.type == 'd')
            continue;
        const auto original = source.find(path);
        QVERIFY2(original != source.end(), path.c_str());
        QCOMPARE(entry.type, original->second.type);
        QVERIFY2(entry.content == original->second.content, path.c_str());
        QCOMPARE(entry.mode, original->second.mode);
    }
}

// Every file of the source has its identical copy.
void verifyEveryCopy(const RawTree& source, const QString& recovered) {
    const RawTree copies = readRawTree(recovered, true);
    for (const auto& [path, entry] : source) {
        if (entry.type == 'd')
            continue;
        const auto copy = copies.find(path);
        QVERIFY2(copy != copies.end(), path.c_str());
        QVERIFY2(copy->second.content == entry.content, path.c_str());
        QCOMPARE(copy->second.mtimeNs, entry.mtimeNs);
    }
}

// A size-limited file system mounted for the length of one test.
class SmallMount {
  public:
    SmallMount(const QString& where, const char* size) : where_(QFile::encodeName(where)) {
        const QByteArray options = QByteArray("size=") + size;
        mounted_ = ::mount("tmpfs", where_.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallMount() {
        if (mounted_)
            ::umount2(where_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

  private:
    QByteArray where_;
    bool mounted_ = false;
};

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT

  private slots:
    void killedRunsNeverLeaveADamagedCopy();
    void aSaveLocationThatFillsUpFailsEachCopyCleanly();
    void hostileNamesAreCopiedExactly();
    void aLongNameMeetingAnEarlierCopyGetsAFreeNameThatFits();
    void specialFilesAndLinkLoopsNeitherHangNorCopyDevices();
    void aSourceThatVanishesMidWalkEndsTheRunNormally();
    void anEngineKilledMidRunEndsInFailure();
    void aFloodOfEngineOutputReachesTheLogWhole();
};

void FaultsTest::killedRunsNeverLeaveADamagedCopy() {
    Scratch scratch;
    // Large enough files that a kill lands inside a copy as often as between two.
    QRandomGenerator random(20261207);
    for (int i = 0; i < 40; ++i) {
        QByteArray bytes(static_cast<qsizetype>(random.bounded(4096, 3 << 20)), Qt::Uninitialized);
        for (char& c : bytes)
            c = static_cast<char>(random.generate());
        writeFile(scratch.source + QStringLiteral("/roll%1/IMG_%2.JPG").arg(i % 4).arg(i), bytes);
    }
    const RawTree source = readRawTree(scratch.source);
    const QByteArray before = treeDigest(scratch.source);

    const auto startChild = [&](QProcess& child) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildSource), scratch.source);
        env.insert(QString::fromLatin1(kChildSave), scratch.save);
        child.setProcessEnvironment(env);
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.start();
        QVERIFY(child.waitForStarted());
    };

    // How long a whole run takes here, so that the kills spread over all of it.
    QElapsedTimer clock;
    clock.start();
    {
        QProcess child;
        startChild(child);
        QVERIFY(child.waitForFinished(600000));
        QCOMPARE(child.exitCode(), 0);
    }
    const qint64 wholeRun = std::max<qint64>(clock.elapsed(), 50);
    QVERIFY(QDir(scratch.recovered()).removeRecursively());

    for (int kill = 0; kill < 20; ++kill) {
        QProcess child;
        startChild(child);
        QThread::msleep(static_cast<unsigned long>(random.bounded(wholeRun)));
        child.kill();
        QVERIFY(child.waitForFinished(60000));
        verifyNoDamagedCopy(source, scratch.recovered());
        if (QTest::currentTestFailed()) {
            qWarning("after the kill at run %d", kill);
            return;
        }
    }

    QProcess last;
    startChild(last);
    QVERIFY(last.waitForFinished(600000));
    QCOMPARE(last.exitCode(), 0);
    verifyEveryCopy(source, scratch.recovered());
    verifyNoDamagedCopy(source, scratch.recovered());
    QCOMPARE(treeDigest(scratch.source), before);
}

void FaultsTest::aSaveLocationThatFillsUpFailsEachCopyCleanly() {
    Scratch scratch;
    SmallMount mount(scratch.save, "1m");
    if (!mount.mounted())
        QSKIP("this machine refuses to mount a small file system here (needs root); the full-disk case is "
              "not run");
    const QList<QPair<QString, int>> files{{QStringLiteral("a.jpg"), 300000},
                                           {QStringLiteral("b.jpg"), 700000},
                                           {QStringLiteral("c/c.png"), 600000},
                                           {QStringLiteral("d.pdf"), 900000},
                                           {QStringLiteral("e.txt"), 100}};
    for (const auto& [name, size] : files)
        writeFile(scratch.source + QLatin1Char('/') + name, QByteArray(size, 'x'));
    const RawTree source = readRawTree(scratch.source);
    const QByteArray before = treeDigest(scratch.source);

    Recovery recovery(scratch.dir.path());
    QVERIFY(recovery.run(scratch.source, scratch.save));

    const QStringList log = recovery.log();
    const QStringList failures = log.filter(QStringLiteral("✗ Copy failed: "));
    QVERIFY2(!failures.isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
    for (const QString& line : failures)
        QVERIFY2(line.endsWith(QStringLiteral(" - No space left on device")), qPrintable(line));
    // Each file was either copied whole or reported, and nothing half-written stayed behind.
    const RawTree copies = readRawTree(scratch.recovered());
    const auto copied = std::count_if(copies.begin(), copies.end(), [](const auto& item) {
        return item.second.type == 'f' && item.first.find(".vellorin-") == std::string::npos;
    });
    QCOMPARE(copied + failures.size(), files.size());
    for (const auto& [path, entry] : copies)
        QVERIFY2(path.find(".vellorin-") == std::string::npos, path.c_str());
    verifyNoDamagedCopy(source, scratch.recovered());
    // The run ended through its normal ending.
    QVERIFY(log.contains(QStringLiteral("Scan completed!")));
    QVERIFY(log.contains(QStringLiteral("Total scanned 5 files")));
    QCOMPARE(recovery.model->recoveredCount(), files.size() - failures.size());
    QCOMPARE(recovery.model->statusMessage(), QStringLiteral("Recovery Completed!"));
    QCOMPARE(treeDigest(scratch.source), before);
}

void FaultsTest::hostileNamesAreCopiedExactly() {
    Scratch scratch;
    const std::string root = native(scratch.source);
    const std::vector<std::string> names{"with space.jpg",
                                         "quote'd \"both\".jpg",
                                         "back\\slash.jpg",
                                         "$(touch pwned).jpg",
                                         "`touch pwned2`.png",
                                         "-leading dash.jpg",
                                         "--help.pdf",
                                         "line\nfeed.jpg",
                                         "tab\there.mp3",
                                         "*glob?[x].txt",
                                         "\xff\xfe invalid.jpg",
                                         std::string(251, 'n') + ".jpg",
                                         "caf\xc3\xa9 \xf0\x9f\x93\xb7.jpg"};
    for (const std::string& name : names)
        writeBytes(root + "/" + name, QByteArray::fromStdString("bytes of " + name));
    // A path longer than PATH_MAX: twenty folders of 250 bytes each.
    std::string deep;
    for (int level = 0; level < 20; ++level)
        deep += std::string(249, static_cast<char>('a' + level)) + "/";
    deep += "deep.jpg";
    QVERIFY(writeDeepFile(scratch.source, deep, "at the bottom"));
    QVERIFY(deep.size() > 4096);
    const RawTree source = readRawTree(scratch.source);
    const QByteArray before = treeDigest(scratch.source);

    Recovery recovery(scratch.dir.path());
    QVERIFY(recovery.run(scratch.source, scratch.save));

    const QStringList log = recovery.log();
    QVERIFY2(log.filter(QStringLiteral("✗ Copy failed: ")).isEmpty(),
             qPrintable(log.join(QLatin1Char('\n'))));
    verifyEveryCopy(source, scratch.recovered());
    verifyNoDamagedCopy(source, scratch.recovered());
    QCOMPARE(recovery.model->recoveredCount(), qint64(names.size() + 1));
    QVERIFY(log.contains(QStringLiteral("Successfully recovered %1 files").arg(names.size() + 1)));
    // Names are data: nothing in them ran.
    QVERIFY(!QFile::exists(QStringLiteral("pwned")) && !QFile::exists(QStringLiteral("pwned2")));
    QVERIFY(!QFile::exists(scratch.source + QStringLiteral("/pwned")));
    // The record of the name that is not UTF-8 shows it as readably as it can.
    const auto& files = recovery.model->recoveredFiles();
    const QString shown = QFile::decodeName("\xff\xfe invalid.jpg");
    QVERIFY(std::any_of(files.begin(), files.end(), [&](const RecoveredFile& f) {
        return f.name() == shown && f.path() == scratch.recovered() + QLatin1Char('/') + shown;
    }));
    QCOMPARE(treeDigest(scratch.source), before);
}

void FaultsTest::aLongNameMeetingAnEarlierCopyGetsAFreeNameThatFits() {
    // Two source names that land on one item (a case-insensitive save location): the second
    // copy takes "stem (2).ext", which must still fit in a folder entry of 255 bytes.
    Scratch scratch;
    const std::string name = std::string(200, 'x') + "\xc3\xa9" + std::string(49, 'y') + ".jpg"; // 255 bytes
    QCOMPARE(name.size(), std::size_t(255));
    const std::string first = native(scratch.dir.filePath(QStringLiteral("one")));
    const std::string second = native(scratch.dir.filePath(QStringLiteral("two")));
    writeBytes(first + "/" + name, "first");
    writeBytes(second + "/" + name, "second");

    class CopyAll final : public WalkVisitor {
      public:
        explicit CopyAll(FileCopier& copier) : copier_(copier) {}
        void visitFile(const WalkEntry& entry) override {
            results.push_back(copier_.copy(entry, std::get<EntryStat>(PosixFileSystem().statEntry(entry))));
        }
        void folderError(std::string_view, const Error&) override {}
        void entryError(std::string_view, const Error&) override {}
        std::vector<FileCopier::Result> results;

      private:
        FileCopier& copier_;
    };
    const std::string destination = native(scratch.recovered());
    std::filesystem::create_directories(destination);
    FileCopier copier(destination);
    CopyAll visitor(copier);
    QVERIFY(!walkTree(first, {}, visitor));
    QVERIFY(!walkTree(second, {}, visitor));
    QCOMPARE(visitor.results.size(), std::size_t(2));
    QCOMPARE(visitor.results[1].kind, FileCopier::Result::Kind::Copied);
    const std::string given = visitor.results[1].destination.substr(destination.size() + 1);
    QVERIFY(given.size() <= 255);
    QVERIFY(given.ends_with(" (2).jpg"));
    // Cut at a character boundary: the shortened name is still valid UTF-8.
    QVERIFY(QString::fromUtf8(given.data(), static_cast<qsizetype>(given.size())).toUtf8() ==
            QByteArray::fromStdString(given));
    QCOMPARE(readBytes(destination + "/" + name), QByteArray("first"));
    QCOMPARE(readBytes(visitor.results[1].destination), QByteArray("second"));
}

void FaultsTest::specialFilesAndLinkLoopsNeitherHangNorCopyDevices() {
    Scratch scratch;
    const std::string root = native(scratch.source);
    writeBytes(root + "/real.jpg", "a real photo");
    QCOMPARE(::mkfifo((root + "/pipe.jpg").c_str(), 0644), 0);
    QCOMPARE(::mknod((root + "/socket.jpg").c_str(), S_IFSOCK | 0644, 0), 0);
    const bool devices = ::mknod((root + "/zero.jpg").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;
    if (!devices)
        qInfo("device nodes cannot be made here (needs root); the device case is not run");
    QCOMPARE(::symlink("loop-b.jpg", (root + "/loop-a.jpg").c_str()), 0);
    QCOMPARE(::symlink("loop-a.jpg", (root + "/loop-b.jpg").c_str()), 0);
    QCOMPARE(::mkdir((root + "/nest").c_str(), 0755), 0);
    QCOMPARE(::symlink("..", (root + "/nest/up").c_str()), 0);
    writeBytes(root + "/nest/inner.png", "inner");
    const QByteArray before = treeDigest(scratch.source);

    Recovery recovery(scratch.dir.path());
    auto model = RecoveryViewModel::create(recovery.test.platform());
    model->setRecoverAllFiles(true);
    RecoveryWatcher watcher(*model);
    model->startRecovery(scratch.source, scratch.save);
    QVERIFY(watcher.waitForEnd(60000));

    const RawTree copies = readRawTree(scratch.recovered(), true);
    QStringList names;
    for (const auto& [path, entry] : copies)
        names.append(QString::fromStdString(path) + QLatin1Char(':') + QLatin1Char(entry.type));
    // Links stay links (the loops and the folder link are never followed); a FIFO, a socket
    // and a device node are not files to recover.
    QCOMPARE(names, (QStringList{QStringLiteral("loop-a.jpg:l"), QStringLiteral("loop-b.jpg:l"),
                                 QStringLiteral("nest:d"), QStringLiteral("nest/inner.png:f"),
                                 QStringLiteral("nest/up:l"), QStringLiteral("real.jpg:f")}));
    QCOMPARE(copies.at("loop-a.jpg").content, QByteArray("loop-b.jpg"));
    QCOMPARE(model->scannedCount(), qint64(5));
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovery Completed!"));
    QCOMPARE(treeDigest(scratch.source), before);
}

void FaultsTest::aSourceThatVanishesMidWalkEndsTheRunNormally() {
    Scratch scratch;
    for (int i = 0; i < 3000; ++i)
        writeFile(scratch.source + QStringLiteral("/f%1/g%2/IMG_%3.jpg").arg(i % 30).arg(i % 7).arg(i),
                  "pixels");
    const RawTree source = readRawTree(scratch.source);

    Recovery recovery(scratch.dir.path());
    auto model = RecoveryViewModel::create(recovery.test.platform());
    RecoveryWatcher watcher(*model);
    // The source goes away while the walk is under way: as soon as the first copy is listed.
    std::thread remover;
    QObject::connect(model.get(), &RecoveryViewModel::recoveredFilePrepended, model.get(), [&] {
        if (!remover.joinable())
            remover = std::thread([&] { std::filesystem::remove_all(native(scratch.source)); });
    });
    model->startRecovery(scratch.source, scratch.save);
    const bool ended = watcher.waitForEnd(120000);
    if (remover.joinable())
        remover.join();
    QVERIFY(ended);
    QVERIFY(!model->isRecovering());
    const QStringList log = logMessages(model->logText());
    QVERIFY(log.contains(QStringLiteral("Scan completed!")));
    QVERIFY(model->recoveredCount() >= 1);
    verifyNoDamagedCopy(source, scratch.recovered());
}

void FaultsTest::anEngineKilledMidRunEndsInFailure() {
    Scratch scratch;
    Recovery recovery(scratch.dir.path());
    // The engine writes a file, then waits to be killed, as a user's `kill -9` would find it.
    const QString pidFile = scratch.dir.filePath(QStringLiteral("engine.pid"));
    const QByteArray script = "echo \"$$\" > '" + QFile::encodeName(pidFile) +
                              "'\nmkdir -p \"$3/recup_dir.1\"\nprintf 'x' > \"$3/recup_dir.1/f1.jpg\"\n"
                              "echo 'scanning'\nexec sleep 300\n";
    recovery.test.resources =
        std::make_shared<FixedResources>(makeResourceFolder(scratch.dir.path(), script));
    auto model = RecoveryViewModel::create(recovery.test.platform());
    RecoveryWatcher watcher(*model);
    const QByteArray before = treeDigest(scratch.source);
    model->startRecovery(scratch.source, scratch.save);
    QTRY_VERIFY_WITH_TIMEOUT(logMessages(model->logText()).contains(QStringLiteral("PhotoRec: scanning")),
                             20000);
    QFile pid(pidFile);
    QVERIFY(pid.open(QIODevice::ReadOnly));
    QCOMPARE(::kill(static_cast<pid_t>(pid.readAll().trimmed().toInt()), SIGKILL), 0);
    QVERIFY(watcher.waitForEnd(30000));

    const QStringList log = logMessages(model->logText());
    QVERIFY2(log.contains(QStringLiteral("Error occurred during recovery (Exit code: 9)")),
             qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovery failed, check logs"));
    QCOMPARE(model->statusColor(), Color::Red);
    QCOMPARE(model->recoveredCount(), qint64(1));
    QVERIFY(recovery.test.alerts->shown.empty());
    QCOMPARE(treeDigest(scratch.source), before);
}

void FaultsTest::aFloodOfEngineOutputReachesTheLogWhole() {
    Scratch scratch;
    Recovery recovery(scratch.dir.path());
    // Two hundred thousand numbered lines as fast as bash can print them, then the verdict.
    const QByteArray script =
        "for ((i = 0; i < 200000; i++)); do echo \"line $i of the engine output\"; done\n"
        "echo 'flood over'\nexit 0\n";
    recovery.test.resources =
        std::make_shared<FixedResources>(makeResourceFolder(scratch.dir.path(), script));
    auto model = RecoveryViewModel::create(recovery.test.platform());
    RecoveryWatcher watcher(*model);
    model->startRecovery(scratch.source, scratch.save);
    QVERIFY(watcher.waitForEnd(300000));

    // Each echo is one write of a whole line, and pipe writes that small are never split, so
    // every line must be there, whole and in order, however the reads grouped them.
    const QString text = model->logText();
    static const QRegularExpression numbered(QStringLiteral("line (\\d+) of the engine output"));
    int expected = 0;
    qsizetype at = 0;
    for (auto match = numbered.globalMatch(text); match.hasNext();) {
        const auto found = match.next();
        QCOMPARE(found.captured(1).toInt(), expected);
        ++expected;
        at = found.capturedEnd();
    }
    QCOMPARE(expected, 200000);
    QVERIFY(text.indexOf(QStringLiteral("flood over"), at) > at);
    QCOMPARE(model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildSource)) {
        QCoreApplication app(argc, argv);
        return runChildRecovery();
    }
    QApplication app(argc, argv);
    FaultsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
