#include "support/DeepRun.h"
#include "support/Fakes.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

// One deep recovery with a fake engine script in a temporary resource folder.
struct Deep {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    QString source = scratch.filePath(QStringLiteral("source"));
    QString save = scratch.filePath(QStringLiteral("save"));
    QString resources;
    std::shared_ptr<RecoveryViewModel> model;

    explicit Deep(const QByteArray& script) {
        QDir().mkpath(source);
        QDir().mkpath(save);
        resources = makeResourceFolder(scratch.path(), script);
        test.resources = std::make_shared<FixedResources>(resources);
    }
    RecoveryViewModel& make() {
        model = RecoveryViewModel::create(test.platform());
        return *model;
    }
    bool run(int timeoutMs = 30000) {
        if (!model)
            make();
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(timeoutMs);
    }
    QStringList log() const { return logMessages(model->logText()); }
    QString recoveryDirectory() const { return save + QStringLiteral("/recovered_files"); }
};

QStringList fromStarted(const QStringList& log) {
    const qsizetype at = log.indexOf(QStringLiteral("PhotoRec automation script started..."));
    return at < 0 ? QStringList{} : log.mid(at);
}

void makeFile(const QString& path, const QByteArray& bytes = "data") {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Resources that are there when the engine is looked up and gone when the run asks again.
class VanishingResources final : public Resources {
  public:
    explicit VanishingResources(QString folder) : folder_(std::move(folder)) {}
    std::optional<QString> resourceFolder() override {
        if (calls_++ == 0)
            return folder_;
        return std::nullopt;
    }

  private:
    QString folder_;
    std::atomic<int> calls_{0};
};

// A slow walk, and the thread it runs on.
class SlowFileSystem final : public PosixFileSystem {
  public:
    std::optional<Error> walk(const QString& root, const WalkOptions& options,
                              WalkVisitor& visitor) override {
        walkThread = QThread::currentThread();
        return PosixFileSystem::walk(root, options, visitor);
    }
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return PosixFileSystem::statEntry(entry);
    }
    std::atomic<QThread*> walkThread{nullptr};
};

class FailingWritesFileSystem final : public PosixFileSystem {
  public:
    std::optional<Error> writeAtomically(const QString&, const QByteArray&) override {
        return Error::fromErrno(EROFS);
    }
};

} // namespace

class DeepRecoveryTest : public QObject {
    Q_OBJECT

  private slots:
    void theScriptGetsFourArgumentsAndTheSaveLocationAsWorkingDirectory();
    void exitZeroEndsInSuccess();
    void nonZeroExitEndsInFailure_data();
    void nonZeroExitEndsInFailure();
    void aChunkWithTwoLinesIsOneEntry();
    void aChunkOfBlanksGivesAnEmptyEntry();
    void aChunkThatIsNotUtf8IsDropped();
    void aCharacterSplitAcrossTwoReadsReachesTheLogWhole();
    void outputAfterTheExitStillReachesTheLog();
    void threeFilesWrittenAtOnceAreListedAtCompletion();
    void theFallbackFoldersFilesAreListed();
    void processIsHeldWhileTheEngineRuns();
    void failedLaunchFallsBackToTheSimplifiedRecovery();
    void eventLoopKeepsTurningDuringTheFallbackWalk();
    void missingResourceFolderRunsTheSimplifiedRecoveryOnTheWorker();
    void noRecoveryDirectoryLaunchesNothing();
    void engineRunsToItsEndWhenTheViewModelIsGone();
};

void DeepRecoveryTest::theScriptGetsFourArgumentsAndTheSaveLocationAsWorkingDirectory() {
    Deep deep("printf '%s\\n' \"$0\" \"$#\" \"$1\" \"$2\" \"$3\" \"$PWD\" > \"$3/.args\"\n");
    QVERIFY(deep.run());
    QFile args(deep.recoveryDirectory() + QStringLiteral("/.args"));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{deep.resources + QStringLiteral("/photorec_auto.sh"), QStringLiteral("3"),
                          deep.resources + QStringLiteral("/photorec"), deep.source, deep.recoveryDirectory(),
                          deep.save}));
}

void DeepRecoveryTest::exitZeroEndsInSuccess() {
    Deep deep("exit 0\n");
    QVERIFY(deep.run());
    QCOMPARE(fromStarted(deep.log()),
             (QStringList{QStringLiteral("PhotoRec automation script started..."),
                          QStringLiteral("Data recovery completed!"),
                          QStringLiteral("Recovered files saved in: ") + deep.recoveryDirectory()}));
    QCOMPARE(deep.model->statusMessage(), QStringLiteral("Recovery Completed!"));
    QCOMPARE(deep.model->statusColor(), Color::Green);
    QCOMPARE(deep.test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(deep.test.alerts->shown[0].title, QStringLiteral("Recovery Completed"));
    QVERIFY(!deep.model->recoveryProcess());
    QVERIFY(!deep.model->fileMonitorTimer());
    QCOMPARE(deep.model->scannedCount(), 0);
}

void DeepRecoveryTest::nonZeroExitEndsInFailure_data() {
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<int>("status");
    QTest::newRow("1") << QByteArray("exit 1\n") << 1;
    QTest::newRow("255") << QByteArray("exit 255\n") << 255;
    QTest::newRow("signal") << QByteArray("kill -KILL $$\n") << 9;
}

void DeepRecoveryTest::nonZeroExitEndsInFailure() {
    QFETCH(QByteArray, script);
    QFETCH(int, status);
    Deep deep(script);
    QVERIFY(deep.run());
    QCOMPARE(fromStarted(deep.log()),
             (QStringList{QStringLiteral("PhotoRec automation script started..."),
                          QStringLiteral("Error occurred during recovery (Exit code: %1)").arg(status)}));
    QCOMPARE(deep.model->statusMessage(), QStringLiteral("Recovery failed, check logs"));
    QCOMPARE(deep.model->statusColor(), Color::Red);
    QVERIFY(deep.test.alerts->shown.empty());
    QVERIFY(!deep.model->fileMonitorTimer());
    QVERIFY(!deep.model->isRecovering());
}

void DeepRecoveryTest::aChunkWithTwoLinesIsOneEntry() {
    // Bash's own printf writes line by line; the standalone one writes its whole output at once.
    Deep deep("/usr/bin/printf 'first line\\nsecond line\\n'\n");
    QVERIFY(deep.run());
    const QString log = deep.model->logText();
    QVERIFY2(log.contains(QStringLiteral("] PhotoRec: first line\nsecond line\n[")), qPrintable(log));
}

void DeepRecoveryTest::aChunkOfBlanksGivesAnEmptyEntry() {
    Deep deep("/usr/bin/printf '  \\n\\t \\n'\n");
    QVERIFY(deep.run());
    QCOMPARE(
        fromStarted(deep.log()).mid(0, 2),
        (QStringList{QStringLiteral("PhotoRec automation script started..."), QStringLiteral("PhotoRec: ")}));
}

void DeepRecoveryTest::aChunkThatIsNotUtf8IsDropped() {
    Deep deep("printf 'bad \\377\\376 bytes\\n'; sleep 0.3; printf 'good\\n'\n");
    QVERIFY(deep.run());
    const QStringList log = fromStarted(deep.log());
    QCOMPARE(log.mid(0, 2), (QStringList{QStringLiteral("PhotoRec automation script started..."),
                                         QStringLiteral("PhotoRec: good")}));
    QVERIFY(!deep.model->logText().contains(QStringLiteral("bad")));
}

void DeepRecoveryTest::aCharacterSplitAcrossTwoReadsReachesTheLogWhole() {
    // "€" is E2 82 AC: the first read ends after two of its bytes.
    Deep deep(
        "printf 'price \\342\\202'; sleep 0.4; printf '\\254 each\\n'; sleep 0.4; printf '\\342'; sleep 0.4; "
        "printf '\\202\\254\\n'\n");
    QVERIFY(deep.run());
    const QStringList log = fromStarted(deep.log());
    QCOMPARE(log.mid(0, 4), (QStringList{QStringLiteral("PhotoRec automation script started..."),
                                         QStringLiteral("PhotoRec: price"),
                                         QStringLiteral("PhotoRec: € each"), QStringLiteral("PhotoRec: €")}));
}

void DeepRecoveryTest::outputAfterTheExitStillReachesTheLog() {
    Deep deep("echo now; (sleep 1; echo late) & exit 0\n");
    QVERIFY(deep.run());
    QTRY_VERIFY_WITH_TIMEOUT(deep.log().contains(QStringLiteral("PhotoRec: late")), 10000);
    const QStringList log = deep.log();
    QVERIFY(log.indexOf(QStringLiteral("PhotoRec: now")) <
            log.indexOf(QStringLiteral("Data recovery completed!")));
    QVERIFY(log.indexOf(QStringLiteral("PhotoRec: late")) >
            log.indexOf(QStringLiteral("Data recovery completed!")));
    QCOMPARE(deep.model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

void DeepRecoveryTest::threeFilesWrittenAtOnceAreListedAtCompletion() {
    Deep deep(
        "mkdir -p \"$3/recup_dir.1\" && for n in 1 2 3; do echo $n > \"$3/recup_dir.1/f000$n.jpg\"; done\n");
    RecoveryViewModel& model = deep.make();
    qsizetype listedAtCompletion = -1;
    qint64 countAtCompletion = -1;
    QObject::connect(&model, &RecoveryViewModel::statusMessageChanged, &model, [&] {
        if (model.statusMessage() == QStringLiteral("Recovery Completed!")) {
            listedAtCompletion = model.recoveredFiles().size();
            countAtCompletion = model.recoveredCount();
        }
    });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(deep.run());
    QVERIFY(clock.elapsed() < 2000); // shorter than one monitor interval
    QCOMPARE(listedAtCompletion, 3);
    QCOMPARE(countAtCompletion, 3);
    spin(2500); // no stale tick replaces the list afterwards
    QCOMPARE(model.recoveredFiles().size(), 3);
    QCOMPARE(deep.log().filter(QStringLiteral("Recovered 3 files...")).size(),
             0); // the status, not a log line
}

void DeepRecoveryTest::theFallbackFoldersFilesAreListed() {
    // "recovered_files" is a file: the engine is given the fallback folder.
    Deep deep("for n in 1 2; do echo $n > \"$3/f$n.png\"; done; sleep 3\n");
    makeFile(deep.save + QStringLiteral("/recovered_files"), "in the way");
    RecoveryViewModel& model = deep.make();
    qsizetype listedWhileRunning = 0;
    QObject::connect(&model, &RecoveryViewModel::recoveredFilesChanged, &model, [&] {
        if (model.isRecovering())
            listedWhileRunning = std::max(listedWhileRunning, model.recoveredFiles().size());
    });
    QVERIFY(deep.run());
    QCOMPARE(listedWhileRunning, 2);
    QCOMPARE(model.recoveredFiles().size(), 2);
    const QString fallbackPrefix = deep.scratch.filePath(QStringLiteral("data/Vellorin/Recovery-"));
    QVERIFY2(model.recoveredFiles()[0].path().startsWith(fallbackPrefix),
             qPrintable(model.recoveredFiles()[0].path()));
    QVERIFY(deep.log().contains(QStringLiteral("Recovered files saved in: ") +
                                QFileInfo(model.recoveredFiles()[0].path()).path()));
}

void DeepRecoveryTest::processIsHeldWhileTheEngineRuns() {
    Deep deep("sleep 1\n");
    RecoveryViewModel& model = deep.make();
    RecoveryWatcher watcher(model);
    model.startRecovery(deep.source, deep.save);
    QTRY_VERIFY_WITH_TIMEOUT(model.recoveryProcess() != nullptr, 5000);
    QVERIFY(model.fileMonitorTimer());
    QVERIFY(model.isRecovering());
    QVERIFY(watcher.waitForEnd());
    QVERIFY(!model.recoveryProcess());
}

void DeepRecoveryTest::failedLaunchFallsBackToTheSimplifiedRecovery() {
    Deep deep("exit 0\n");
    auto launcher = std::make_shared<FailingEngineLauncher>(ENOENT);
    deep.test.engine = launcher;
    makeFile(deep.source + QStringLiteral("/a.jpg"));
    QVERIFY(deep.run());
    const QString dir = deep.recoveryDirectory();
    QCOMPARE(
        deep.log(),
        (QStringList{
            QStringLiteral("Starting data recovery..."), QStringLiteral("Source path: ") + deep.source,
            QStringLiteral("Output path: ") + deep.save,
            QStringLiteral("Found bundled PhotoRec and automation script"),
            QStringLiteral("Using bundled PhotoRec for deep recovery..."),
            QStringLiteral("Creating recovery directory: ") + dir,
            QStringLiteral("Failed to start PhotoRec: No such file or directory"),
            QStringLiteral("Creating recovery directory: ") + dir,
            QStringLiteral("Starting to scan directory: ") + deep.source, QStringLiteral("Scan completed!"),
            QStringLiteral("Total scanned 1 files"), QStringLiteral("Successfully recovered 1 files"),
            QStringLiteral("Data recovery completed!"), QStringLiteral("Recovered files saved in: ") + dir}));
    QCOMPARE(launcher->commands.size(), std::size_t(1));
    QCOMPARE(launcher->commands[0].program, QStringLiteral("/bin/bash"));
    QVERIFY(!deep.model->fileMonitorTimer());
    QVERIFY(!deep.model->recoveryProcess());
    QVERIFY(QFileInfo::exists(dir + QStringLiteral("/a.jpg")));
    QCOMPARE(deep.model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

void DeepRecoveryTest::eventLoopKeepsTurningDuringTheFallbackWalk() {
    Deep deep("exit 0\n");
    deep.test.engine = std::make_shared<FailingEngineLauncher>(EACCES);
    auto slow = std::make_shared<SlowFileSystem>();
    deep.test.fileSystem = slow;
    for (int i = 0; i < 200; ++i)
        makeFile(deep.source + QStringLiteral("/d%1/p%2.jpg").arg(i % 7).arg(i));
    RecoveryViewModel& model = deep.make();

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (ticks++ > 0)
            longestGap = std::max(longestGap, sinceTick.elapsed());
        sinceTick.restart();
    });
    sinceTick.start();
    ticker.start();
    QElapsedTimer run;
    run.start();
    QVERIFY(deep.run());
    ticker.stop();
    QVERIFY(run.elapsed() > 600); // the walk took long enough to have frozen the window
    QVERIFY(slow->walkThread.load() != nullptr);
    QVERIFY(slow->walkThread.load() != QThread::currentThread());
    QVERIFY2(longestGap < 300, qPrintable(QString::number(longestGap)));
    QCOMPARE(model.recoveredCount(), 200);
}

void DeepRecoveryTest::missingResourceFolderRunsTheSimplifiedRecoveryOnTheWorker() {
    Deep deep("exit 0\n");
    deep.test.resources = std::make_shared<VanishingResources>(deep.resources);
    makeFile(deep.source + QStringLiteral("/b.png"));
    QVERIFY(deep.run());
    const QString dir = deep.recoveryDirectory();
    const QStringList log = deep.log();
    QCOMPARE(log.mid(5, 4), (QStringList{QStringLiteral("Creating recovery directory: ") + dir,
                                         QStringLiteral("Unable to get app resource path"),
                                         QStringLiteral("Creating recovery directory: ") + dir,
                                         QStringLiteral("Starting to scan directory: ") + deep.source}));
    QVERIFY(!log.contains(QStringLiteral("PhotoRec automation script started...")));
    QCOMPARE(deep.model->recoveredCount(), 1);
    QVERIFY(!deep.model->fileMonitorTimer());
}

void DeepRecoveryTest::noRecoveryDirectoryLaunchesNothing() {
    Deep deep("touch \"$3/../launched\"\n");
    deep.test.fileSystem = std::make_shared<FailingWritesFileSystem>();
    QVERIFY(deep.run());
    const QStringList log = deep.log();
    QCOMPARE(log.mid(5), (QStringList{QStringLiteral("Write permission check failed: Read-only file system"),
                                      QStringLiteral("Write test failed at: ") + deep.save}));
    QCOMPARE(deep.model->statusMessage(), QStringLiteral("No write permission for save path"));
    spin(300);
    QVERIFY(!deep.model->fileMonitorTimer());
    QVERIFY(!QFileInfo::exists(deep.save + QStringLiteral("/launched")));
}

void DeepRecoveryTest::engineRunsToItsEndWhenTheViewModelIsGone() {
    Deep deep("echo going; sleep 0.8; touch \"$3/.finished\"; echo done\n");
    RecoveryViewModel& model = deep.make();
    RecoveryWatcher watcher(model);
    model.startRecovery(deep.source, deep.save);
    QTRY_VERIFY_WITH_TIMEOUT(
        model.logText().contains(QStringLiteral("PhotoRec automation script started...")), 5000);
    QPointer<RecoveryViewModel> gone(&model);
    deep.model.reset();
    // The run held the view model until the engine ended; then it is gone, and every
    // handler that comes later finds nothing to do.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(deep.recoveryDirectory() + QStringLiteral("/.finished")),
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(gone.isNull(), 10000);
    spin(500);
    QVERIFY(deep.test.alerts->shown.empty() ||
            deep.test.alerts->shown.back().title == QStringLiteral("Recovery Completed"));
}

QTEST_MAIN(DeepRecoveryTest)
#include "tst_deep_recovery.moc"
