// Sorting a deep search's output into folders, and putting it back: on a made-up output with
// every case the organiser decides, on the real output of PhotoRec, and under SIGKILL.

#include "platform/ExecutableResources.h"
#include "platform/PosixFileSystem.h"
#include "support/DiskImages.h"
#include "support/ExifPictures.h"
#include "support/Fakes.h"
#include "workflow/ResultsOrganiser.h"
#include "workflow/ResultsSorting.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// Every visible file below root with its checksum: "relative/path sha256".
QStringList treeWithHashes(const QString& root) {
    QStringList entries;
    for (const QString& relative : listTree(root)) {
        if (relative.startsWith(u'.') || relative.contains(u"/."_s) ||
            QFileInfo(root + u'/' + relative).isDir())
            continue;
        entries.append(relative + u' ' + QString::fromLatin1(sha256Of(root + u'/' + relative)));
    }
    return entries;
}

// The checksums alone, sorted: what must survive any interruption, wherever the files are.
QStringList contents(const QString& root) {
    return visibleFileHashes(root);
}

QByteArray noise(int size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(static_cast<quint32>(seed));
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

bool writePdf(const QString& path, const QString& text) {
    QPdfWriter writer(path);
    QPainter painter(&writer);
    if (!painter.isActive())
        return false;
    painter.drawText(QPointF(100, 100), text);
    return painter.end();
}

// What a deep search leaves, with one of each thing the organiser decides on.
struct MadeOutput {
    QTemporaryDir scratch;
    QString dir = scratch.filePath(u"recovered_files"_s);

    MadeOutput() {
        const QString one = dir + u"/recup_dir.1/"_s, two = dir + u"/recup_dir.2/"_s,
                      three = dir + u"/recup_dir.3/"_s;
        QDir().mkpath(one), QDir().mkpath(two), QDir().mkpath(three);
        QVERIFY(writeJpeg(one + u"f0000100.jpg"_s, 1, "2023:02:13 18:46:14"));
        QVERIFY(writeJpeg(one + u"f0000200.jpg"_s, 2, "2021:07:01 09:00:00"));
        QVERIFY(writeJpeg(one + u"f0000300.jpg"_s, 3));                        // no date
        QVERIFY(writeJpeg(one + u"f0000350.jpg"_s, 4, "    :  :     :  :  ")); // a blank date
        QImage png(40, 30, QImage::Format_RGB32);
        png.fill(Qt::darkCyan);
        QVERIFY(png.save(one + u"f0000400.png"_s));
        QVERIFY(writePdf(one + u"f0000500.pdf"_s, u"minutes"_s));
        QVERIFY(makeZip(one + u"f0000600.zip"_s, u"a.txt"_s, "zipped"));
        writeFile(one + u"f0000700.mp4"_s, noise(4000, 7));
        writeFile(one + u"f0000800.mp3"_s, noise(3000, 8));
        writeFile(one + u"f0000900.xyz"_s, noise(2000, 9));
        writeFile(one + u".report.xml"_s, "<report/>");
        // The same picture carved twice, and one taken in the same second as another.
        QFile::copy(one + u"f0000100.jpg"_s, two + u"f0001000.jpg"_s);
        QVERIFY(writeJpeg(two + u"f0001100.jpg"_s, 11, "2023:02:13 18:46:14"));
        // A file that was also restored under its real name, and the user's own folder.
        writeFile(dir + u"/Deleted files/notes/todo.txt"_s, "buy milk\n");
        writeFile(two + u"f0001200.txt"_s, "buy milk\n");
        writeFile(two + u"mine/keep.txt"_s, "the user's");
        writeFile(three + u"f0002000.mov"_s, noise(5000, 20));
    }
};

const QStringList kSortedTree{
    u"Archives/f0000600.zip"_s,
    u"Deleted files/notes/todo.txt"_s,
    u"Documents/f0000500.pdf"_s,
    u"Duplicates/f0001000.jpg"_s,
    u"Duplicates/f0001200.txt"_s,
    u"Other/f0000900.xyz"_s,
    u"Pictures/2021/2021-07-01 09.00.00.jpg"_s,
    u"Pictures/2023/2023-02-13 18.46.14 (2).jpg"_s,
    u"Pictures/2023/2023-02-13 18.46.14.jpg"_s,
    u"Pictures/Undated/f0000300.jpg"_s,
    u"Pictures/Undated/f0000350.jpg"_s,
    u"Pictures/Undated/f0000400.png"_s,
    u"Videos/f0000700.mp4"_s,
    u"Videos/f0002000.mov"_s,
    u"Audio/f0000800.mp3"_s,
    u"recup_dir.2/mine/keep.txt"_s,
};

QStringList hashesOf(const QStringList& entries) {
    QStringList hashes;
    for (const QString& entry : entries)
        hashes.append(entry.section(u' ', -1));
    hashes.sort();
    return hashes;
}

QStringList pathsOf(const QStringList& entries) {
    QStringList paths;
    for (const QString& entry : entries)
        paths.append(entry.section(u' ', 0, -2));
    paths.sort();
    return paths;
}

QString hashAt(const QString& root, const QString& relative) {
    return QString::fromLatin1(sha256Of(root + u'/' + relative));
}

int runOrganiser(const QString& dir, const QString& mode = {}) {
    QProcess process;
    process.start(organiserProgram(), mode.isEmpty() ? QStringList{dir} : QStringList{dir, mode});
    if (!process.waitForFinished(60000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

class ResultsOrganiserTest : public QObject {
    Q_OBJECT

  private slots:
    void sortsEachKindIntoItsFolderAndUndoPutsBackTheExactTree() {
        MadeOutput output;
        const QStringList before = treeWithHashes(output.dir);
        const QString firstPicture = hashAt(output.dir, u"recup_dir.1/f0000100.jpg"_s);
        const QString sameSecond = hashAt(output.dir, u"recup_dir.2/f0001100.jpg"_s);
        PosixFileSystem fileSystem;
        ResultsOrganiser organiser(fileSystem, output.dir);

        const ResultsOrganiser::Summary sorted = organiser.sort();
        QVERIFY(!sorted.error);
        QCOMPARE(ResultsOrganiser::sortedLine(sorted),
                 u"Sorted 12 files: 6 pictures, 2 videos, 1 audio file, 1 document, 1 archive, 1 other file; "
                 "2 duplicates set aside."_s);
        QStringList expected = kSortedTree;
        expected.sort();
        QCOMPARE(pathsOf(treeWithHashes(output.dir)), expected);
        // Nothing copied, nothing changed: the same contents, one more file nowhere.
        QCOMPARE(contents(output.dir), hashesOf(before));
        // The first in the engine's order keeps the date's name; the restored file is kept.
        QCOMPARE(hashAt(output.dir, u"Pictures/2023/2023-02-13 18.46.14.jpg"_s), firstPicture);
        QCOMPARE(hashAt(output.dir, u"Pictures/2023/2023-02-13 18.46.14 (2).jpg"_s), sameSecond);
        QCOMPARE(hashAt(output.dir, u"Duplicates/f0001000.jpg"_s), firstPicture);
        QVERIFY(!QFileInfo::exists(output.dir + u"/recup_dir.3"_s));
        QCOMPARE(sorted.moves.size(), 14);
        QCOMPARE(organiser.state(), ResultsOrganiser::State::Sorted);

        // Once is enough: a second sort with nothing new changes nothing.
        QVERIFY(!organiser.hasUnsortedFiles());
        const ResultsOrganiser::Summary again = organiser.sort();
        QVERIFY(again.error && again.moves.isEmpty());
        QCOMPARE(pathsOf(treeWithHashes(output.dir)), expected);

        // A search resumed afterwards carves more: it is sorted beside the earlier files, a
        // copy of one of them set aside, and one undo puts back both sortings.
        const QString four = output.dir + u"/recup_dir.4/"_s;
        QVERIFY(QDir().mkpath(four));
        QVERIFY(writeJpeg(four + u"f0003000.jpg"_s, 30, "2023:02:13 18:46:14"));
        QVERIFY(
            QFile::copy(output.dir + u"/Pictures/2021/2021-07-01 09.00.00.jpg"_s, four + u"f0003100.jpg"_s));
        QStringList withResumed = before + treeWithHashes(output.dir).filter(u"recup_dir.4/"_s);
        withResumed.sort();
        QVERIFY(organiser.hasUnsortedFiles());
        const ResultsOrganiser::Summary resumed = organiser.sort();
        QCOMPARE(ResultsOrganiser::sortedLine(resumed),
                 u"Sorted 1 file: 1 picture; 1 duplicate set aside."_s);
        QVERIFY(QFileInfo::exists(output.dir + u"/Pictures/2023/2023-02-13 18.46.14 (3).jpg"_s));
        QVERIFY(QFileInfo::exists(output.dir + u"/Duplicates/f0003100.jpg"_s));
        QVERIFY(!QFileInfo::exists(four));

        const ResultsOrganiser::Summary undone = organiser.undo();
        QVERIFY(!undone.error);
        QCOMPARE(ResultsOrganiser::undoneLine(undone),
                 u"Sorting undone: 16 files are back where the search left them."_s);
        QCOMPARE(treeWithHashes(output.dir), withResumed);
        QVERIFY(!QFileInfo::exists(ResultsOrganiser::journalPathIn(output.dir)));
        for (const QString& folder : {u"Pictures"_s, u"Videos"_s, u"Duplicates"_s, u"Other"_s})
            QVERIFY2(!QFileInfo::exists(output.dir + u'/' + folder), qPrintable(folder));
    }

    // A name already there is never replaced; a journal that names a path outside the folder
    // is not followed; files of the user's beside the engine's keep their folder.
    void neverReplacesNorLeavesTheFolder() {
        MadeOutput output;
        writeFile(output.dir + u"/Videos/f0000700.mp4"_s, "the user's own video");
        PosixFileSystem fileSystem;
        ResultsOrganiser organiser(fileSystem, output.dir);
        QVERIFY(!organiser.sort().error);
        QCOMPARE(readFile(native(output.dir + u"/Videos/f0000700.mp4"_s)),
                 QByteArray("the user's own video"));
        QVERIFY(QFileInfo::exists(output.dir + u"/Videos/f0000700 (2).mp4"_s));
        QVERIFY(!organiser.undo().error);
        QCOMPARE(readFile(native(output.dir + u"/Videos/f0000700.mp4"_s)),
                 QByteArray("the user's own video"));
        QVERIFY(QFileInfo::exists(output.dir + u"/recup_dir.1/f0000700.mp4"_s));

        writeFile(output.scratch.filePath(u"outside.txt"_s), "outside");
        writeFile(ResultsOrganiser::journalPathIn(output.dir),
                  "vellorin sorting journal 1\nstate sorting\n..%2Foutside.txt recup_dir.1%2Fgot-it.txt\n");
        QCOMPARE(organiser.state(), ResultsOrganiser::State::None);
        QVERIFY(organiser.settle().moves.isEmpty());
        QVERIFY(QFileInfo::exists(output.scratch.filePath(u"outside.txt"_s)));
        QVERIFY(!QFileInfo::exists(output.dir + u"/recup_dir.1/got-it.txt"_s));
    }

    // SIGKILL at any moment of a sort or an undo: the next run completes or puts back what
    // the cut-short one began, and every file exists once, unchanged.
    void killedAtRandomMomentsEveryFileSurvivesOnce() {
        QTemporaryDir scratch;
        const QString dir = scratch.filePath(u"recovered_files"_s);
        for (int i = 0; i < 600; ++i) {
            const QString folder = dir + u"/recup_dir.%1/"_s.arg(1 + i / 200);
            QDir().mkpath(folder);
            const QString name = folder + u"f%1"_s.arg(1000 + i * 8, 7, 10, QChar(u'0'));
            if (i % 3 == 0)
                QVERIFY(writeJpeg(name + u".jpg"_s, i % 90,
                                  i % 2 ? "2020:05:0" + QByteArray::number(1 + i % 9) + " 10:00:00"
                                        : QByteArray()));
            else
                writeFile(name + (i % 3 == 1 ? u".pdf"_s : u".mp3"_s), noise(512 + (i % 50) * 16, i % 50));
        }
        const QStringList original = contents(dir);
        const qsizetype files = original.size();

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(runOrganiser(dir), 0);
        const qint64 sortMs = timer.restart();
        QCOMPARE(runOrganiser(dir, u"--undo"_s), 0);
        const qint64 undoMs = timer.elapsed();
        QCOMPARE(contents(dir), original);
        qInfo("a whole sort took %lld ms, an undo %lld ms", sortMs, undoMs);

        QRandomGenerator random(20261208);
        bool sorted = false;
        int cutShort = 0;
        for (int round = 0; round < 20; ++round) {
            const QString mode = sorted ? u"--undo"_s : QString();
            QProcess process;
            process.start(organiserProgram(), mode.isEmpty() ? QStringList{dir} : QStringList{dir, mode});
            QVERIFY(process.waitForStarted());
            const qint64 span = std::max<qint64>(sorted ? undoMs : sortMs, 20);
            QTest::qWait(static_cast<int>(random.bounded(span + span / 5)));
            // A run that already ended has no id: kill(0) would end this suite's whole group.
            if (const qint64 pid = process.processId(); pid > 0)
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished());
            if (process.exitStatus() == QProcess::CrashExit)
                ++cutShort;
            // Whatever moment it was, every file is there once before anything else runs.
            QCOMPARE(contents(dir), original);
            // The next run finishes the work: a sort cut short is completed, an undo put back;
            // one killed before it wrote its journal had changed nothing and is run again.
            QCOMPARE(runOrganiser(dir, u"--settle"_s), 0);
            QCOMPARE(contents(dir), original);
            PosixFileSystem fileSystem;
            const auto settled = ResultsOrganiser(fileSystem, dir).state();
            if ((settled == ResultsOrganiser::State::Sorted) != mode.isEmpty())
                QCOMPARE(runOrganiser(dir, mode), 0);
            QCOMPARE(contents(dir), original);
            sorted = ResultsOrganiser(fileSystem, dir).state() == ResultsOrganiser::State::Sorted;
            QVERIFY(sorted == mode.isEmpty());
            QCOMPARE(visibleFileHashes(dir).size(), files);
        }
        qInfo("%d of 20 runs were cut short", cutShort);
        QVERIFY(cutShort >= 10);
    }

    // The real output of PhotoRec, sorted through the window's workflow: every file in its
    // folder under the expected name, the list following, and the undo giving back the tree.
    void sortsTheOutputOfARealDeepSearch() {
        if (!QFileInfo(ExecutableResources().resourceFolder().value_or(QString()) + u"/photorec"_s)
                 .isExecutable())
            QFAIL("the build has no photorec in its resource folder: install testdisk and configure again");
        Scratch scratch;
        scratch.test.resources = std::make_shared<ExecutableResources>();
        scratch.remake();
        ScanOptions options;
        options.namesFirst = false;
        scratch.model->setScanOptions(options);

        const QString originals = scratch.dir.filePath(u"originals"_s);
        QDir().mkpath(originals);
        const auto at = [&](const QString& name) { return originals + u'/' + name; };
        QVERIFY(writeJpeg(at(u"beach.jpg"_s), 101, "2023:02:13 18:46:14", 160));
        QVERIFY(writeJpeg(at(u"hills.jpg"_s), 102, "2019:11:30 07:05:00", 160));
        QVERIFY(writeJpeg(at(u"snow.jpg"_s), 103, "2023:12:24 23:59:59", 160));
        QVERIFY(writeJpeg(at(u"twin.jpg"_s), 104, "2022:06:01 12:00:00", 160));
        QVERIFY(QFile::copy(at(u"twin.jpg"_s), at(u"twin copy.jpg"_s)));
        const QStringList pictures = makePictures(originals, 4); // two of them PNGs without dates
        QVERIFY(writePdf(at(u"letter.pdf"_s), u"Dear reader"_s));
        QVERIFY(makeZip(at(u"bundle.zip"_s), u"inside.txt"_s, noise(3000, 5).toBase64()));
        QStringList files{at(u"beach.jpg"_s),     at(u"hills.jpg"_s),  at(u"snow.jpg"_s),  at(u"twin.jpg"_s),
                          at(u"twin copy.jpg"_s), at(u"letter.pdf"_s), at(u"bundle.zip"_s)};
        files += pictures;
        const QString image = scratch.dir.filePath(u"card.img"_s);
        QVERIFY(makeFatImage(image, 32 << 20, files));
        scratch.source = image;
        QVERIFY(scratch.run());
        QCOMPARE(scratch.model->statusMessage(), u"Recovery Completed!"_s);

        auto sorting = ResultsSorting::create(scratch.model);
        QTRY_VERIFY(sorting->canSort());
        const QStringList carved = treeWithHashes(scratch.recovered);
        QSignalSpy finished(sorting.get(), &ResultsSorting::finished);
        sorting->sortIntoFolders();
        QVERIFY(sorting->isBusy() && !sorting->canSort());
        QVERIFY(finished.wait(60000));
        QVERIFY(sorting->canUndo() && !sorting->canSort());

        const QStringList tree = treeWithHashes(scratch.recovered);
        const auto hashFor = [&](const QString& relative) { return hashAt(scratch.recovered, relative); };
        QCOMPARE(hashFor(u"Pictures/2023/2023-02-13 18.46.14.jpg"_s),
                 QString::fromLatin1(sha256Of(at(u"beach.jpg"_s))));
        QCOMPARE(hashFor(u"Pictures/2019/2019-11-30 07.05.00.jpg"_s),
                 QString::fromLatin1(sha256Of(at(u"hills.jpg"_s))));
        QCOMPARE(hashFor(u"Pictures/2023/2023-12-24 23.59.59.jpg"_s),
                 QString::fromLatin1(sha256Of(at(u"snow.jpg"_s))));
        QCOMPARE(hashFor(u"Pictures/2022/2022-06-01 12.00.00.jpg"_s),
                 QString::fromLatin1(sha256Of(at(u"twin.jpg"_s))));
        QCOMPARE(QDir(scratch.recovered + u"/Duplicates"_s).entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(scratch.recovered + u"/Documents"_s).entryList({u"*.pdf"_s}, QDir::Files).size(), 1);
        QCOMPARE(QDir(scratch.recovered + u"/Archives"_s).entryList({u"*.zip"_s}, QDir::Files).size(), 1);
        QCOMPARE(hashFor(u"Archives/"_s +
                         QDir(scratch.recovered + u"/Archives"_s).entryList(QDir::Files).value(0)),
                 QString::fromLatin1(sha256Of(at(u"bundle.zip"_s))));
        for (const QString& picture : pictures)
            if (picture.endsWith(u".png"_s))
                QVERIFY2(tree.filter(u"Pictures/Undated/"_s)
                             .join(u' ')
                             .contains(QString::fromLatin1(sha256Of(picture))),
                         qPrintable(tree.join(u'\n')));
        // Only moved: the very same contents.
        QCOMPARE(contents(scratch.recovered), hashesOf(carved));
        // Nothing visible is left in the engine's folders.
        for (const QString& folder : QDir(scratch.recovered).entryList({u"recup_dir.*"_s}, QDir::Dirs))
            QCOMPARE(QDir(scratch.recovered + u'/' + folder).entryList(QDir::Files), QStringList());
        // The list follows the files to their new names, and keeps its count.
        for (const RecoveredFile& file : scratch.model->recoveredFiles()) {
            QVERIFY2(QFileInfo::exists(file.path()), qPrintable(file.path()));
            QCOMPARE(file.name(), QFileInfo(file.path()).fileName());
        }
        QCOMPARE(scratch.model->recoveredFiles().size(), carved.size());
        const QStringList log = scratch.log();
        QVERIFY2(
            !log.filter(QRegularExpression(u"^Sorted \\d+ files: .*; 1 duplicate set aside\\.$"_s)).isEmpty(),
            qPrintable(log.join(u'\n')));

        sorting->undoSorting();
        QVERIFY(finished.wait(60000));
        QCOMPARE(treeWithHashes(scratch.recovered), carved);
        QVERIFY(sorting->canSort() && !sorting->canUndo());
        for (const RecoveredFile& file : scratch.model->recoveredFiles())
            QVERIFY2(QFileInfo::exists(file.path()), qPrintable(file.path()));
    }
};

QTEST_MAIN(ResultsOrganiserTest)
#include "tst_results_organiser.moc"
