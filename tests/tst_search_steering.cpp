// A long deep search followed, stopped and picked up again, with the real engine reading a
// disk served slowly through the failing-disk stand-in, and a second start refused while a
// search still runs into its folder.

#include "platform/ExecutableResources.h"
#include "platform/LockedSearches.h"
#include "platform/SystemDiskAccess.h"
#include "support/DiskImages.h"
#include "support/Fakes.h"
#include "workflow/SearchProgress.h"
#include "workflow/SearchRecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include <signal.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

constexpr qint64 kMiB = 1024 * 1024;

// The image, made once for the suite: pictures spread from its start to its end.
struct Card {
    QTemporaryDir scratch;
    QString image = scratch.filePath(u"card.img"_s);
    QStringList pictures;
    qint64 size = 0;

    bool make(qint64 mib, int count) {
        QDir().mkpath(scratch.filePath(u"pictures"_s));
        pictures = makePictures(scratch.filePath(u"pictures"_s), count);
        size = mib * kMiB;
        return pictures.size() == count && makeSpreadFatImage(image, size, pictures);
    }
    QStringList hashes() const {
        QStringList all;
        for (const QString& picture : pictures)
            all << QString::fromLatin1(sha256Of(picture));
        return all;
    }
};

QStringList views() {
    return sourceViews();
}

// Whether any program of the process group still runs (one that has ended but was not yet
// waited for is no longer running).
bool groupRuns(pid_t group) {
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile stat(u"/proc/"_s + pid + u"/stat"_s);
        if (pid.toInt() <= 0 || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(") ") + 2).split(' ');
        if (fields.size() > 2 && fields[2].toInt() == group && fields[0] != "Z")
            return true;
    }
    return false;
}

// One save location and the runs started into it, each by a model of its own.
struct Steered {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    QString save = scratch.filePath(u"save"_s);
    QString directory = save + u"/recovered_files"_s;
    std::unique_ptr<FailingDisk> disk;
    std::shared_ptr<RecoveryViewModel> model;
    std::unique_ptr<RecoveryWatcher> watcher;
    QList<QPair<double, RecoveryProgress>> seen;
    QElapsedTimer clock;
    // The receiver of this run's signals: a model outlives us until its deferred deletion.
    std::unique_ptr<QObject> listening;

    Steered() {
        QDir().mkpath(save);
        test.resources = std::make_shared<ExecutableResources>();
        test.disks = std::make_shared<SystemDiskAccess>();
    }
    // The card served at bytesPerSecond, with more of the stand-in's options.
    bool serve(const Card& card, double bytesPerSecond, const QStringList& more = {}) {
        disk.reset();
        disk =
            std::make_unique<FailingDisk>(card.image, scratch.filePath(u"disk"_s),
                                          QStringList{u"--rate"_s, QString::number(bytesPerSecond)} + more);
        return disk->serving();
    }
    // What the source view served the engine in the last run, as it said when it ended.
    qint64 served() const {
        const std::optional<ViewReport> last = report();
        return last ? last->served : 0;
    }
    void start() {
        // The last run's report stays behind until the new run clears it; it is not this run's.
        QFile::remove(SearchRecord::progressPathIn(directory));
        model = RecoveryViewModel::create(test.platform());
        ScanOptions options = model->scanOptions();
        options.namesFirst = false; // carving alone: each picture is found by the engine
        model->setScanOptions(options);
        seen.clear();
        clock.start();
        listening = std::make_unique<QObject>();
        QObject::connect(model.get(), &RecoveryViewModel::progressChanged, listening.get(), [this] {
            seen.append({clock.elapsed() / 1000.0, model->progress()});
        });
        watcher = std::make_unique<RecoveryWatcher>(*model);
        model->startRecovery(disk->file(), save);
    }
    bool waitForEnd(int ms = 300000) { return watcher->waitForEnd(ms); }
    std::optional<ViewReport> report() const {
        QFile file(SearchRecord::progressPathIn(directory));
        return file.open(QIODevice::ReadOnly) ? ViewReport::parse(file.readAll()) : std::nullopt;
    }
    // Turns the event loop until the main pass has read this share of the card.
    bool waitForShare(double share, qint64 size, int ms = 120000) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms) {
            spin(100);
            const std::optional<ViewReport> now = report();
            if (now && now->position && *now->position >= share * static_cast<double>(size))
                return true;
        }
        return false;
    }
    std::optional<RunningSearches::Holder> holder() const {
        return LockedSearches().holder(SearchRecord::lockPathIn(directory));
    }
    QStringList log() const { return logMessages(model->logText()); }
};

// Each hash of want found exactly once among the visible files below folder.
void checkExactlyOnce(const QString& folder, const QStringList& want) {
    const QStringList found = visibleFileHashes(folder);
    for (const QString& hash : want)
        QVERIFY2(found.count(hash) == 1,
                 qPrintable(hash + u" found "_s + QString::number(found.count(hash))));
}

// What the engine's folders made after folders hold, by their content.
QStringList hashesOutside(const QString& directory, const QStringList& folders) {
    QStringList found;
    for (const QString& folder : QDir(directory).entryList({u"recup_dir.*"_s}, QDir::Dirs))
        if (!folders.contains(folder))
            found += visibleFileHashes(directory + u'/' + folder);
    return found;
}

} // namespace

class SearchSteeringTest : public QObject {
    Q_OBJECT

    Card card_;

  private slots:
    void initTestCase() {
        const QString folder = ExecutableResources().resourceFolder().value_or(QString());
        if (!QFileInfo(folder + u"/photorec"_s).isExecutable())
            QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
        // Dense enough that the engine's first pass, which looks for a few files to learn the
        // block size, ends soon, as it does on a disk in use.
        QVERIFY(card_.make(512, 240));
    }

    // On a steady slow disk: shares that only grow to the end, a rate true to the bytes read
    // over the time taken, and a time left within a quarter of the real remaining time from a
    // quarter of the way on; a read that hangs turns it into "time left unknown".
    void progressTellsTheTruthOnASlowDisk() {
        Steered run;
        const double rate = 10e6;
        // A read at 80% hangs for 14 seconds, a weak spot the drive retries.
        const qint64 stallAt = card_.size * 8 / 10;
        QVERIFY(run.serve(card_, rate, {u"--stall"_s, u"%1-%2:14"_s.arg(stallAt).arg(stallAt + 8 * kMiB)}));
        run.start();
        QVERIFY(run.waitForEnd());
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);

        QList<QPair<double, RecoveryProgress>> searching;
        for (const auto& [at, progress] : run.seen)
            if (progress.phase == RecoveryProgress::Phase::Searching)
                searching.append({at, progress});
        QVERIFY2(searching.size() > 20, qPrintable(QString::number(searching.size())));
        for (qsizetype i = 1; i < searching.size(); ++i)
            QVERIFY(searching[i].second.share >= searching[i - 1].second.share);
        QVERIFY2(searching.last().second.share >= 0.97,
                 qPrintable(QString::number(searching.last().second.share)));

        // The moment the main pass reached a share, from the shares shown.
        const auto timeAt = [&](double share) {
            for (const auto& [at, progress] : searching)
                if (progress.share >= share)
                    return at;
            return searching.last().first;
        };
        // The disk's real pace, below the stand-in's nominal one by what each read costs on
        // the way: the bytes the main pass read over the time it took, before the hang.
        const double paced = 0.65 * static_cast<double>(card_.size) / (timeAt(0.75) - timeAt(0.1));
        const double end = timeAt(0.97) + 0.03 * static_cast<double>(card_.size) / paced;
        bool unknownSeen = false;
        int judged = 0;
        for (const auto& [at, progress] : searching) {
            if (progress.share >= 0.7 && progress.share < 0.85 && progress.stalled)
                unknownSeen = unknownSeen || progress.timeLeftText() == u"time left unknown"_s;
            if (progress.share < 0.25 || progress.share > 0.75)
                continue;
            // The rate of the last stretch against the bytes of the pass over its time so far.
            QVERIFY(progress.bytesPerSecond);
            QVERIFY2(std::abs(*progress.bytesPerSecond - paced) <= 0.2 * paced,
                     qPrintable(QString::number(*progress.bytesPerSecond)));
            if (!progress.secondsLeft)
                continue;
            // The hang still to come is no part of what the disk's pace can tell.
            const double realLeft = end - at - 14;
            QVERIFY2(std::abs(*progress.secondsLeft - realLeft) <= 0.25 * realLeft,
                     qPrintable(u"%1 s left said at %2 s, %3 s really"_s.arg(*progress.secondsLeft)
                                    .arg(at)
                                    .arg(realLeft)));
            ++judged;
        }
        QVERIFY2(judged >= 5, qPrintable(QString::number(judged)));
        QVERIFY(unknownSeen);
        // The log says it too, in place of a figure of its own.
        QVERIFY(!run.log().filter(QRegularExpression(u"^Progress: \\d+% read, "_s)).isEmpty());
    }

    // Stop ends every program of the run within two seconds, leaves nothing mounted, keeps and
    // lists what was found; the search then picks up where it stopped and finds the rest once.
    void stopKeepsWhatWasFoundAndResumeFindsTheRestOnce() {
        Steered run;
        QVERIFY(run.serve(card_, 60e6));
        const QStringList viewsBefore = views();
        run.start();
        QVERIFY(run.waitForShare(0.5, card_.size));
        const std::optional<RunningSearches::Holder> holder = run.holder();
        QVERIFY(holder && holder->leaderAlive);
        QStringList ours = views();
        ours.removeIf([&](const QString& view) { return viewsBefore.contains(view); });
        QCOMPARE(ours.size(), 1);

        // The question first; "Continue" changes nothing.
        run.test.alerts->answers = {1};
        run.model->requestStop();
        QCOMPARE(
            run.test.alerts->shown.back(),
            (QStringList{u"Stop the Search"_s, u"Stop the search? The files recovered so far are kept."_s,
                         u"Stop"_s, u"Continue"_s}));
        spin(300);
        QVERIFY2(run.model->isRecovering(), qPrintable(run.log().join(u"\n"_s)));
        QElapsedTimer stopping;
        run.test.alerts->answers = {0};
        stopping.start();
        run.model->requestStop();
        while (groupRuns(static_cast<pid_t>(holder->pid)) && stopping.elapsed() < 5000)
            QThread::msleep(10);
        QVERIFY2(stopping.elapsed() <= 2000, qPrintable(QString::number(stopping.elapsed())));
        QVERIFY(run.waitForEnd());
        QVERIFY(!views().contains(ours.first()));
        QCOMPARE(run.model->statusMessage(), u"Recovery stopped"_s);
        QCOMPARE(run.model->statusColor(), RecoveryViewModel::StatusColor::Orange);
        const qint64 onDisk = visibleFileHashes(run.directory).size();
        QVERIFY2(onDisk > 0, qPrintable(run.log().join(u"\n"_s)));
        QCOMPARE(run.model->recoveredFiles().size(), onDisk);
        QVERIFY2(run.log().contains(u"Search stopped: %1 files recovered."_s.arg(onDisk)),
                 qPrintable(run.log().join(u'\n')));
        QCOMPARE(run.test.alerts->shown.size(), std::size_t(2)); // no completion alert

        // Picked up: the question names the share reached, and the rest is read once.
        run.test.alerts->answers = {0};
        run.start();
        QVERIFY(run.waitForEnd());
        const QStringList& asked = run.test.alerts->shown[2];
        // Stopped past half way: how far past depends on how fast the machine answered.
        const QRegularExpressionMatch reached =
            QRegularExpression(u"^Resume the earlier search of (.+)\\? It had reached (\\d+)%\\.$"_s)
                .match(asked.value(1));
        QVERIFY2(reached.hasMatch() && reached.captured(1) == run.disk->file() &&
                     reached.captured(2).toInt() >= 50 && reached.captured(2).toInt() < 100,
                 qPrintable(asked.join(u'|')));
        QCOMPARE(asked.mid(2), (QStringList{u"Resume"_s, u"Start Over"_s}));
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        checkExactlyOnce(run.directory, card_.hashes());
        QVERIFY2(run.served() <= card_.size * 6 / 10, qPrintable(QString::number(run.served())));
        // Nothing is left to pick up.
        QVERIFY(!QFileInfo::exists(SearchRecord::pathIn(run.directory)));
    }

    // A whole run killed at about half way is picked up the same; a changed source is offered
    // only a fresh start, which finds everything again into new folders.
    void aKilledSearchIsResumedAndAChangedSourceStartsOver() {
        Steered run;
        QVERIFY(run.serve(card_, 60e6));
        run.start();
        QVERIFY(run.waitForShare(0.5, card_.size));
        const std::optional<RunningSearches::Holder> holder = run.holder();
        QVERIFY(holder);
        ::kill(-static_cast<pid_t>(holder->pid), SIGKILL);
        QVERIFY(run.waitForEnd());
        QVERIFY(!run.holder());

        // The same card: resumed; each picture once across both runs, and the rest read once.
        run.test.alerts->answers = {0};
        run.start();
        QVERIFY(run.waitForEnd());
        QVERIFY(std::any_of(run.test.alerts->shown.begin(), run.test.alerts->shown.end(),
                            [](const QStringList& alert) {
                                return alert.mid(2) == QStringList{u"Resume"_s, u"Start Over"_s};
                            }));
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        checkExactlyOnce(run.directory, card_.hashes());
        QVERIFY2(run.served() <= card_.size * 6 / 10, qPrintable(QString::number(run.served())));

        // Killed again, and then the card changes in its first megabyte: only a fresh start.
        run.start();
        QVERIFY(run.waitForShare(0.3, card_.size));
        const std::optional<RunningSearches::Holder> third = run.holder();
        QVERIFY(third);
        ::kill(-static_cast<pid_t>(third->pid), SIGKILL);
        QVERIFY(run.waitForEnd());
        QFile image(card_.image);
        QVERIFY(image.open(QIODevice::ReadWrite));
        image.seek(0x100); // the boot code, which no search reads
        image.write("changed");
        image.close();
        const QStringList earlierFolders = QDir(run.directory).entryList({u"recup_dir.*"_s}, QDir::Dirs);
        const std::size_t shownBefore = run.test.alerts->shown.size();
        run.test.alerts->answers = {0};
        run.start();
        QVERIFY(run.waitForEnd());
        const QStringList asked = run.test.alerts->shown.at(shownBefore);
        QVERIFY2(asked.value(1).contains(u"cannot be resumed: the source has changed"_s),
                 qPrintable(asked.join(u'|')));
        QCOMPARE(asked.mid(2), QStringList{u"Start Over"_s});
        QCOMPARE(run.model->statusMessage(), u"Recovery Completed!"_s);
        const QStringList again = hashesOutside(run.directory, earlierFolders);
        for (const QString& hash : card_.hashes())
            QVERIFY(again.contains(hash));
    }

    // A second start into a folder that a running search holds is refused until that search
    // stops, and "Stop It" stops it.
    void aSecondStartWaitsForTheRunningSearch() {
        Steered run;
        QVERIFY(run.serve(card_, 30e6));
        run.start();
        QVERIFY(run.waitForShare(0.05, card_.size));
        const std::shared_ptr<RecoveryViewModel> first = run.model;
        const std::optional<RunningSearches::Holder> holder = run.holder();
        QVERIFY(holder);

        run.start(); // the default answer is "Cancel"
        QVERIFY(run.waitForEnd(30000));
        QCOMPARE(run.test.alerts->shown.back().mid(2), (QStringList{u"Stop It"_s, u"Cancel"_s}));
        QVERIFY(run.model->statusMessage().startsWith(u"Not started"_s));
        QVERIFY(first->isRecovering());
        QVERIFY(run.holder());

        run.test.alerts->answers = {0};
        run.start();
        spin(3000);
        QVERIFY(::kill(static_cast<pid_t>(holder->pid), 0) != 0); // the earlier search is gone
        QVERIFY(run.log().contains(u"The earlier search was stopped; the files it recovered are kept."_s));
        QVERIFY(run.model->isRecovering());
        run.model->stopRecovery();
        QVERIFY(run.waitForEnd());
    }

    // A copy stopped part way: each file is whole under its name or absent, and listed as it is.
    void aStoppedCopyLeavesNoPartialFile() {
        QTemporaryDir shm(u"/dev/shm/vellorin-copy-XXXXXX"_s);
        const QString source = shm.filePath(u"source"_s);
        QVERIFY(QDir().mkpath(source));
        QByteArray block(8 * kMiB, 'x');
        for (int i = 0; i < 40; ++i) {
            QFile file(source + u"/movie%1.mp4"_s.arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            block[0] = char(i);
            for (int n = 0; n < 2; ++n)
                file.write(block);
        }
        TestPlatform test{shm.path()};
        const QString save = shm.filePath(u"save"_s);
        QVERIFY(QDir().mkpath(save));
        auto model = RecoveryViewModel::create(test.platform());
        RecoveryWatcher watcher(*model);
        // Stopped as soon as the first copy is listed, while the others are still to come.
        QObject::connect(model.get(), &RecoveryViewModel::recoveredFilesPrepended, model.get(),
                         [&model] { model->stopRecovery(); });
        model->startRecovery(source, save);
        QVERIFY(watcher.waitForEnd());
        QCOMPARE(model->statusMessage(), u"Recovery stopped"_s);
        const QString directory = save + u"/recovered_files"_s;
        const QStringList made = QDir(directory).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(!made.isEmpty() && made.size() < 40,
                 qPrintable(QString::number(made.size()) + logMessages(model->logText()).join(u"\n"_s)));
        QCOMPARE(model->recoveredFiles().size(), made.size());
        for (const QString& name : made)
            QCOMPARE(sha256Of(directory + u'/' + name), sha256Of(source + u'/' + name));
    }
};

QTEST_GUILESS_MAIN(SearchSteeringTest)
#include "tst_search_steering.moc"
