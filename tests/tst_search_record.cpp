// What a search leaves behind for the next start to pick up, and how its progress is read
// and told.

#include "platform/PosixFileSystem.h"
#include "support/Fakes.h"
#include "workflow/RecoveryProgress.h"
#include "workflow/SearchProgress.h"
#include "workflow/SearchRecord.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

constexpr qint64 kMiB = 1024 * 1024;

SearchRecord recordOf(const QString& source, qint64 size, qint64 reached) {
    SearchRecord record;
    record.source = source;
    record.size = size;
    record.identity = "0123abcd";
    record.options = {u"--formats=jpg"_s};
    record.reached = reached;
    record.blockSize = 4096;
    record.runs = {SearchRecord::Run{0, {u"recup_dir.1"_s}}};
    return record;
}

} // namespace

class SearchRecordTest : public QObject {
    Q_OBJECT

  private slots:
    // The view's report: only a whole one counts, and a position is one of the main pass,
    // inside the source.
    void theViewsReportIsReadStrictly() {
        const auto report =
            ViewReport::parse("size=1000\nwindow=100\nserved=400\npass=main\nposition=2000\nblocksize=512\n");
        QVERIFY(report);
        QCOMPARE(report->size, 1000);
        QCOMPARE(report->window, 100);
        QCOMPARE(report->served, 400);
        QCOMPARE(*report->position, 1000); // past the end: the end
        QCOMPARE(report->blockSize, 512);
        // Before the main pass a position means nothing.
        QVERIFY(!ViewReport::parse("size=1000\npass=preparing\nposition=500\n")->position);
        for (const QByteArray& broken : {QByteArray(), QByteArray("served=5\n"), QByteArray("size=-4\n"),
                                         QByteArray("size=1000\nwindow=1000\n"), QByteArray("size=x\n")})
            QVERIFY2(!ViewReport::parse(broken), broken.constData());
    }

    // The words a user reads: never 100% before the end, minutes then hours, and no time
    // left while reads stall.
    void progressIsToldPlainly() {
        RecoveryProgress progress;
        QCOMPARE(progress.summary(), QString());
        progress.phase = RecoveryProgress::Phase::Preparing;
        progress.bytes = 3'000'000;
        QCOMPARE(progress.summary(), u"Preparing: finding the block size, 3.0 MB read"_s);
        progress.phase = RecoveryProgress::Phase::Searching;
        progress.share = 0.9999;
        progress.bytesPerSecond = 38e6;
        QCOMPARE(progress.summary(), u"99% read, 38.0 MB/s"_s);
        progress.share = 0.42;
        const QList<QPair<double, QString>> times = {{20, u"less than a minute left"_s},
                                                     {12 * 60, u"about 12 min left"_s},
                                                     {2 * 3600, u"about 2 h left"_s},
                                                     {2 * 3600 + 5 * 60, u"about 2 h 5 min left"_s},
                                                     {5 * 86400, u"about 5 days left"_s}};
        for (const auto& [seconds, text] : times) {
            progress.secondsLeft = seconds;
            QCOMPARE(progress.timeLeftText(), text);
        }
        progress.secondsLeft = 720;
        QCOMPARE(progress.summary(), u"42% read, 38.0 MB/s, about 12 min left"_s);
        progress.stalled = true;
        progress.secondsLeft.reset();
        progress.bytesPerSecond = 0;
        QCOMPARE(progress.summary(), u"42% read, 0 bytes/s, time left unknown"_s);
        RecoveryProgress copying;
        copying.phase = RecoveryProgress::Phase::Copying;
        copying.files = 1;
        copying.bytes = 2'500'000;
        QCOMPARE(copying.summary(), u"1 file copied, 2.5 MB"_s);
    }

    // Picked up only when it can be honest: the same source, unchanged, with the same options,
    // and not a search of the free space alone.
    void aSearchIsResumedOnlyWhenThatIsHonest() {
        const SearchRecord earlier = recordOf(u"/dev/sdz"_s, 1000 * kMiB, 420 * kMiB);
        SearchRecord now = recordOf(u"/dev/sdz"_s, 1000 * kMiB, 0);
        SearchResume::Offer offer = SearchResume::assess(earlier, now);
        QCOMPARE(offer.kind, SearchResume::Offer::Kind::Resume);
        QCOMPARE(SearchResume::question(u"Card (SD)"_s, offer),
                 u"Resume the earlier search of Card (SD)? It had reached 42%."_s);

        QCOMPARE(SearchResume::assess(std::nullopt, now).kind, SearchResume::Offer::Kind::None);
        QCOMPARE(SearchResume::assess(recordOf(u"/dev/sdz"_s, 1000 * kMiB, 0), now).kind,
                 SearchResume::Offer::Kind::None);

        const auto onlyStartOver = [&](const SearchRecord& changed, const QString& why) {
            const SearchResume::Offer refused = SearchResume::assess(earlier, changed);
            QCOMPARE(refused.kind, SearchResume::Offer::Kind::StartOverOnly);
            QVERIFY2(SearchResume::question(u"Card"_s, refused).endsWith(why + u'.'),
                     qPrintable(SearchResume::question(u"Card"_s, refused)));
        };
        SearchRecord changed = now;
        changed.identity = "ffff";
        onlyStartOver(changed, u"the source has changed since (its size or its first megabyte differs)"_s);
        changed = now;
        changed.size += 512;
        onlyStartOver(changed, u"the source has changed since (its size or its first megabyte differs)"_s);
        changed = now;
        changed.options = {};
        onlyStartOver(changed, u"the kinds of files to look for or the space to search have changed since"_s);
        changed = now;
        changed.source = u"/dev/sdy"_s;
        onlyStartOver(changed, u"it searched /dev/sdz"_s);
        SearchRecord free = earlier;
        free.options = {u"--free-space"_s};
        changed = now;
        changed.options = free.options;
        QCOMPARE(SearchResume::assess(free, changed).kind, SearchResume::Offer::Kind::StartOverOnly);
        // An identity that could not be read proves nothing.
        SearchRecord unread = earlier;
        unread.identity.clear();
        changed = now;
        changed.identity.clear();
        QCOMPARE(SearchResume::assess(unread, changed).kind, SearchResume::Offer::Kind::StartOverOnly);
    }

    // The window starts a margin before the furthest read, or at the file being carved when it
    // starts earlier, on a block boundary; never before the source or past it.
    void theWindowStartsSafelyBeforeWhereTheSearchStopped() {
        SearchRecord earlier = recordOf(u"/dev/sdz"_s, 1000 * kMiB, 420 * kMiB + 1000);
        QCOMPARE(SearchResume::windowStart(earlier, 420 * kMiB), 419 * kMiB);
        QCOMPARE(SearchResume::windowStart(earlier, 300 * kMiB + 5000), 300 * kMiB + 4096);
        earlier.blockSize = 0; // unknown: sectors
        QCOMPARE(SearchResume::windowStart(earlier, 300 * kMiB + 5000), 300 * kMiB + 4608);
        earlier.reached = kMiB / 2;
        QCOMPARE(SearchResume::windowStart(earlier, kMiB), 0);
    }

    // The record survives a round trip; the view's last report of the same run moves it on,
    // one of another run does not; a broken record is no record.
    void theRecordKeepsWhatTheNextStartNeeds() {
        QTemporaryDir scratch;
        PosixFileSystem fileSystem;
        const QString directory = scratch.path();
        SearchRecord record = recordOf(u"/home/me/card.img"_s, 1000 * kMiB, 0);
        record.runs.append(SearchRecord::Run{300 * kMiB, {u"recup_dir.1"_s, u"recup_dir.2"_s}});
        record.namesDone = true;
        QVERIFY(!record.save(fileSystem, directory));
        QFile progress(SearchRecord::progressPathIn(directory));
        QVERIFY(progress.open(QIODevice::WriteOnly));
        progress.write(
            "size=1048576000\nwindow=314572800\nserved=9\npass=main\nposition=524288000\nblocksize=1024\n");
        progress.close();
        std::optional<SearchRecord> loaded = SearchRecord::load(fileSystem, directory);
        QVERIFY(loaded);
        QCOMPARE(loaded->source, record.source);
        QCOMPARE(loaded->identity, record.identity);
        QCOMPARE(loaded->options, record.options);
        QVERIFY(loaded->namesDone);
        QCOMPARE(loaded->reached, 500 * kMiB);
        QCOMPARE(loaded->blockSize, 1024);
        QCOMPARE(loaded->runs.size(), 2);
        QCOMPARE(loaded->runs[1].foldersBefore, (QStringList{u"recup_dir.1"_s, u"recup_dir.2"_s}));
        // A report of a run with another window says nothing about this one.
        QVERIFY(progress.open(QIODevice::WriteOnly));
        progress.write("size=1048576000\nwindow=0\npass=main\nposition=900000000\n");
        progress.close();
        QCOMPARE(SearchRecord::load(fileSystem, directory)->reached, 0);
        QFile broken(SearchRecord::pathIn(directory));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"version\": 1, \"source\": \"x\"");
        broken.close();
        QVERIFY(!SearchRecord::load(fileSystem, directory));
        // A working folder planted as a link is never read through.
        QTemporaryDir elsewhere;
        QVERIFY(!record.save(fileSystem, elsewhere.path()));
        const QString planted = scratch.filePath(u"planted"_s);
        QVERIFY(QDir().mkpath(planted));
        QVERIFY(QFile::link(elsewhere.filePath(SearchRecord::kWorkingFolder), planted + u"/.photorec"_s));
        QVERIFY(SearchRecord::load(fileSystem, elsewhere.path()));
        QVERIFY(!SearchRecord::load(fileSystem, planted));
    }

    // Each carved file's place on the source, read off the engine's name and its run's window;
    // folders from before the search, and names of other kinds, are no part of it.
    void carvedFilesAreFoundWhereTheyStart() {
        QTemporaryDir scratch;
        PosixFileSystem fileSystem;
        FakeClock clock;
        const QString directory = scratch.path();
        for (const QString& path :
             {u"recup_dir.1/f0000010.jpg"_s, u"recup_dir.2/f0000002_Report.docx"_s,
              u"recup_dir.2/notes.txt"_s, u"recup_dir.3/f0000004.png"_s, u"recup_dir.9/f0000001.jpg"_s}) {
            QDir().mkpath(QFileInfo(directory + u'/' + path).path());
            QFile file(directory + u'/' + path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        SearchRecord earlier = recordOf(u"/dev/sdz"_s, 1000 * kMiB, 0);
        earlier.runs = {SearchRecord::Run{0, {u"recup_dir.9"_s}},
                        SearchRecord::Run{kMiB, {u"recup_dir.1"_s, u"recup_dir.9"_s}}};
        const QSet<QString> now{u"recup_dir.1"_s, u"recup_dir.2"_s, u"recup_dir.3"_s, u"recup_dir.9"_s};
        QList<SearchResume::Carved> carved =
            SearchResume::carvedFiles(fileSystem, directory, clock, earlier, now);
        std::sort(carved.begin(), carved.end(),
                  [](const auto& a, const auto& b) { return a.start < b.start; });
        QCOMPARE(carved.size(), 3);
        QCOMPARE(carved[0].path, directory + u"/recup_dir.1/f0000010.jpg"_s);
        QCOMPARE(carved[0].start, 10 * 512);
        QCOMPARE(carved[1].start, kMiB + 2 * 512);
        QCOMPARE(carved[2].start, kMiB + 4 * 512);
    }
};

QTEST_GUILESS_MAIN(SearchRecordTest)
#include "tst_search_record.moc"
