#include "platform/FileCopier.h"
#include "platform/TreeWalk.h"
#include "support/Fakes.h"
#include "support/TreeHelpers.h"
#include "support/Unprivileged.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <semaphore>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

struct Run {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    std::shared_ptr<RecoveryViewModel> model = RecoveryViewModel::create(test.platform());
    QString source = scratch.filePath(QStringLiteral("source"));
    QString destination = scratch.filePath(QStringLiteral("save/recovered_files"));

    Run() {
        QDir().mkpath(source);
        QDir().mkpath(destination);
    }
    // QDir cannot remove a name that is not valid UTF-8.
    ~Run() { std::filesystem::remove_all(native(scratch.path())); }
    void recover(const QString& from, const QString& to) {
        test.queues->userInitiated([model = model, from, to] { model->runSimplifiedRecovery(from, to); });
        settle(*test.queues);
    }
    void recover() { recover(source, destination); }
    QStringList log() const { return logMessages(model->logText()); }
    QString in(const QString& relative) const { return source + QLatin1Char('/') + relative; }
    QString out(const QString& relative) const { return destination + QLatin1Char('/') + relative; }
};

// The lines of the log that the walk itself wrote, without the closing ones.
QStringList walkLines(const QStringList& log) {
    QStringList lines;
    for (const QString& line : log) {
        if (line.startsWith(QStringLiteral("Scan completed!")))
            break;
        if (!line.startsWith(QStringLiteral("Starting to scan directory: ")))
            lines.append(line);
    }
    return lines;
}

} // namespace

class SimplifiedRecoveryTest : public QObject {
    Q_OBJECT

  private slots:
    void copiesFilesWithKnownEndingsIntoTheMirroredTree();
    void recoverAllFilesTakesEveryVisibleFile();
    void theListIsNewestFirstAndTheStatusFollowsEachCopy();
    void progressReachesTheWindowEveryFiftyFiles();
    void anEmptySourceEndsWithoutFiles();
    void startChecksFailTheRecovery();
    void unreadableSourceFailsTheRecovery();
    void unreadableEntriesAreLoggedAndTheWalkGoesOn();
    void destinationConflictsAreReportedAndNothingIsLost();
    void neverCopiesItsOwnCopies();
    void kernelPseudoFileSystemsAreNotEntered();
    void twoNamesForOneDestinationKeepBothCopies();
    void switchingTheOptionDuringARunAppliesToLaterFiles();
};

void SimplifiedRecoveryTest::copiesFilesWithKnownEndingsIntoTheMirroredTree() {
    Run run;
    writeFile(run.in(QStringLiteral("DCIM/100CANON/IMG_0001.JPG")), "jpeg bytes");
    writeFile(run.in(QStringLiteral("photo.jpeg")), "jpeg 2");
    writeFile(run.in(QStringLiteral("archive/Backup.TAR.GZ")), QByteArray(70000, 'z'));
    writeFile(run.in(QStringLiteral("clip.mp4.part")), "partial");
    writeFile(run.in(QStringLiteral("notes.md")), "notes");
    writeFile(run.in(QStringLiteral("Makefile")), "all:");
    writeFile(run.in(QStringLiteral(".hidden.jpg")), "hidden");
    writeFile(run.in(QStringLiteral(".thumbs/t.jpg")), "hidden folder");
    const std::string latin1Name = native(run.source) + "/caf\xe9.jpg";
    writeBytes(latin1Name, "latin-1 name");
    QCOMPARE(::symlink("photo.jpeg", native(run.in(QStringLiteral("link.jpg"))).c_str()), 0);
    QCOMPARE(::mkfifo(native(run.in(QStringLiteral("pipe.jpg"))).c_str(), 0644), 0);
    const QString dated = run.in(QStringLiteral("DCIM/100CANON/IMG_0001.JPG"));
    QCOMPARE(::chmod(native(dated).c_str(), 0640), 0);
    const struct timespec times[2] = {{1'600'000'000, 0}, {1'500'000'000, 123'000'000}};
    QCOMPARE(::utimensat(AT_FDCWD, native(dated).c_str(), times, 0), 0);

    run.recover();

    QCOMPARE(listTree(run.destination),
             (QStringList{QStringLiteral("DCIM/100CANON/IMG_0001.JPG"),
                          QStringLiteral("archive/Backup.TAR.GZ"), QFile::decodeName("caf\xe9.jpg"),
                          QStringLiteral("link.jpg"), QStringLiteral("photo.jpeg")}));
    QCOMPARE(readBytes(native(run.out(QStringLiteral("DCIM/100CANON/IMG_0001.JPG")))),
             QByteArray("jpeg bytes"));
    QCOMPARE(readBytes(native(run.out(QStringLiteral("archive/Backup.TAR.GZ")))), QByteArray(70000, 'z'));
    QCOMPARE(readBytes(native(run.destination) + "/caf\xe9.jpg"), QByteArray("latin-1 name"));
    struct stat copied {};
    QCOMPARE(::stat(native(run.out(QStringLiteral("DCIM/100CANON/IMG_0001.JPG"))).c_str(), &copied), 0);
    QCOMPARE(copied.st_mode & 07777, mode_t(0640));
    QCOMPARE(copied.st_mtim.tv_sec, time_t(1'500'000'000));
    QCOMPARE(copied.st_mtim.tv_nsec, 123'000'000L);
    char target[64] = {};
    QVERIFY(::readlink(native(run.out(QStringLiteral("link.jpg"))).c_str(), target, sizeof target - 1) > 0);
    QCOMPARE(QByteArray(target), QByteArray("photo.jpeg"));

    const QStringList log = run.log();
    QCOMPARE(log.first(), QStringLiteral("Starting to scan directory: ") + run.source);
    QVERIFY2(walkLines(log).isEmpty(), qPrintable(walkLines(log).join(QLatin1Char('\n'))));
    QCOMPARE(log.mid(log.size() - 5),
             (QStringList{QStringLiteral("Scan completed!"), QStringLiteral("Total scanned 8 files"),
                          QStringLiteral("Successfully recovered 5 files"),
                          QStringLiteral("Data recovery completed!"),
                          QStringLiteral("Recovered files saved in: ") + run.destination}));
    QCOMPARE(run.model->scannedCount(), 8);
    QCOMPARE(run.model->recoveredCount(), 5);
    QCOMPARE(run.model->statusMessage(), QStringLiteral("Recovery Completed!"));
    QVERIFY(!run.model->isRecovering());

    const auto& files = run.model->recoveredFiles();
    QCOMPARE(files.size(), 5);
    const auto jpg = std::find_if(files.begin(), files.end(), [](const RecoveredFile& f) {
        return f.name() == QStringLiteral("IMG_0001.JPG");
    });
    QVERIFY(jpg != files.end());
    QCOMPARE(jpg->path(), run.out(QStringLiteral("DCIM/100CANON/IMG_0001.JPG")));
    QCOMPARE(jpg->size(), 10);
    QVERIFY(jpg->date().isValid());
    QCOMPARE(run.test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(run.test.alerts->shown[0].title, QStringLiteral("Recovery Completed"));
    // Nothing half-written remains anywhere.
    for (const QString& name : listTree(run.destination))
        QVERIFY2(!name.contains(QStringLiteral(".vellorin-")), qPrintable(name));
}

void SimplifiedRecoveryTest::recoverAllFilesTakesEveryVisibleFile() {
    Run run;
    writeFile(run.in(QStringLiteral("notes.md")), "notes");
    writeFile(run.in(QStringLiteral("src/Makefile")), "all:");
    writeFile(run.in(QStringLiteral(".profile")), "hidden");
    writeFile(run.in(QStringLiteral(".git/config")), "hidden folder");
    QCOMPARE(::mkfifo(native(run.in(QStringLiteral("fifo"))).c_str(), 0644), 0); // would block a copy forever
    run.model->setRecoverAllFiles(true);
    run.recover();
    QCOMPARE(listTree(run.destination),
             (QStringList{QStringLiteral("notes.md"), QStringLiteral("src/Makefile")}));
    QVERIFY(run.log().contains(QStringLiteral("Total scanned 2 files")));
}

void SimplifiedRecoveryTest::theListIsNewestFirstAndTheStatusFollowsEachCopy() {
    Run run;
    writeFile(run.in(QStringLiteral("a/1.png")), "1");
    writeFile(run.in(QStringLiteral("b/2.png")), "2");
    writeFile(run.in(QStringLiteral("c/3.png")), "3");
    QStringList statuses;
    QList<qint64> counts;
    QStringList heads;
    connect(run.model.get(), &RecoveryViewModel::recoveredFilesChanged, this,
            [&] { heads.append(run.model->recoveredFiles().first().path()); });
    connect(run.model.get(), &RecoveryViewModel::recoveredCountChanged, this,
            [&] { counts.append(run.model->recoveredCount()); });
    connect(run.model.get(), &RecoveryViewModel::statusMessageChanged, this,
            [&] { statuses.append(run.model->statusMessage()); });
    run.recover();

    // Each update shows the count as it stands when it runs, which may already include
    // copies made after its own file.
    QCOMPARE(counts.size(), 3);
    QVERIFY(std::is_sorted(counts.begin(), counts.end()));
    QCOMPARE(counts.last(), 3);
    QCOMPARE(statuses.size(), 4);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(statuses[i], QStringLiteral("Recovered %1 files...").arg(counts[i]));
    QCOMPARE(statuses.last(), QStringLiteral("Recovery Completed!"));
    // Each copy went to the head: the list reads the copies in the reverse of their order.
    QStringList listed;
    for (const auto& file : run.model->recoveredFiles())
        listed.append(file.path());
    std::reverse(heads.begin(), heads.end());
    QCOMPARE(listed, heads);
    QSet<QUuid> ids;
    for (const auto& file : run.model->recoveredFiles())
        ids.insert(file.id());
    QCOMPARE(ids.size(), 3);
}

void SimplifiedRecoveryTest::progressReachesTheWindowEveryFiftyFiles() {
    Run run;
    for (int i = 0; i < 120; ++i)
        writeFile(run.in(QStringLiteral("d%1/file%2.dat").arg(i % 3).arg(i)), "x");
    QList<qint64> seen;
    connect(run.model.get(), &RecoveryViewModel::scannedCountChanged, this,
            [&] { seen.append(run.model->scannedCount()); });
    run.recover();
    QCOMPARE(seen, (QList<qint64>{50, 100, 120}));
    QCOMPARE(run.model->recoveredCount(), 0);

    // When every file is copied, a progress step never runs ahead of the copies it counts.
    Run all;
    for (int i = 0; i < 100; ++i)
        writeFile(all.in(QStringLiteral("p%1.jpg").arg(i)), "x");
    QList<QPair<qint64, qint64>> steps;
    connect(all.model.get(), &RecoveryViewModel::scannedCountChanged, this, [&] {
        steps.append({all.model->scannedCount(), all.model->recoveredFiles().size()});
    });
    all.recover();
    QCOMPARE(steps, (QList<QPair<qint64, qint64>>{{50, 50}, {100, 100}, {100, 100}}));
}

void SimplifiedRecoveryTest::anEmptySourceEndsWithoutFiles() {
    Run run;
    QDir().mkpath(run.in(QStringLiteral("only/folders/here")));
    run.model->setRecoverAllFiles(true);
    run.recover();
    QCOMPARE(run.log(),
             (QStringList{QStringLiteral("Starting to scan directory: ") + run.source,
                          QStringLiteral("Scan completed!"), QStringLiteral("Total scanned 0 files"),
                          QStringLiteral("Successfully recovered 0 files"),
                          QStringLiteral("No recoverable files found")}));
    QCOMPARE(run.model->statusMessage(), QStringLiteral("No recoverable files found"));
    QCOMPARE(run.model->statusColor(), RecoveryViewModel::StatusColor::Primary);
    QCOMPARE(run.model->scannedCount(), 0);
    QVERIFY(!run.model->isRecovering());
    QVERIFY(run.test.alerts->shown.empty());
}

void SimplifiedRecoveryTest::startChecksFailTheRecovery() {
    {
        Run run;
        const QString missing = run.scratch.filePath(QStringLiteral("no/such/folder"));
        run.recover(missing, run.destination);
        QCOMPARE(
            run.log(),
            (QStringList{QStringLiteral("Starting to scan directory: ") + missing,
                         QStringLiteral("Error: Source path does not exist - ") + missing,
                         QStringLiteral("Error starting recovery process: Source path does not exist")}));
        QCOMPARE(run.model->statusMessage(), QStringLiteral("Start failed: Source path does not exist"));
        QCOMPARE(run.model->statusColor(), RecoveryViewModel::StatusColor::Red);
        QVERIFY(run.test.alerts->shown.empty());
    }
    {
        // A file can be read but not walked.
        Run run;
        const QString file = run.in(QStringLiteral("disk.jpg"));
        writeFile(file, "x");
        run.recover(file, run.destination);
        QCOMPARE(run.log(),
                 (QStringList{
                     QStringLiteral("Starting to scan directory: ") + file,
                     QStringLiteral("Error: Failed to create file enumerator"),
                     QStringLiteral("Error starting recovery process: Failed to create file enumerator")}));
        QCOMPARE(run.model->statusMessage(),
                 QStringLiteral("Start failed: Failed to create file enumerator"));
    }
}

void SimplifiedRecoveryTest::unreadableSourceFailsTheRecovery() {
    VELLORIN_RUN_UNPRIVILEGED();
    Run run;
    QCOMPARE(::chmod(native(run.source).c_str(), 0300), 0);
    run.recover();
    ::chmod(native(run.source).c_str(), 0755);
    QCOMPARE(run.log(),
             (QStringList{QStringLiteral("Starting to scan directory: ") + run.source,
                          QStringLiteral("Error: Source path is not readable - ") + run.source,
                          QStringLiteral("Error starting recovery process: Source path is not readable")}));
    QCOMPARE(run.model->statusMessage(), QStringLiteral("Start failed: Source path is not readable"));
    QVERIFY(!run.model->isRecovering());
}

void SimplifiedRecoveryTest::unreadableEntriesAreLoggedAndTheWalkGoesOn() {
    VELLORIN_RUN_UNPRIVILEGED();
    Run run;
    writeFile(run.in(QStringLiteral("locked/inside.jpg")), "x");
    writeFile(run.in(QStringLiteral("listable/a.jpg")), "x");
    writeFile(run.in(QStringLiteral("secret.jpg")), "x");
    writeFile(run.in(QStringLiteral("ok.jpg")), "fine");
    QCOMPARE(::chmod(native(run.in(QStringLiteral("locked"))).c_str(), 0), 0);
    QCOMPARE(::chmod(native(run.in(QStringLiteral("listable"))).c_str(), 0444), 0); // names, but no entry
    QCOMPARE(::chmod(native(run.in(QStringLiteral("secret.jpg"))).c_str(), 0), 0);
    run.recover();
    ::chmod(native(run.in(QStringLiteral("locked"))).c_str(), 0755);
    ::chmod(native(run.in(QStringLiteral("listable"))).c_str(), 0755);

    QStringList lines = walkLines(run.log());
    lines.sort();
    QCOMPARE(lines, (QStringList{QStringLiteral("Enumeration error: ") + run.in(QStringLiteral("locked")) +
                                     QStringLiteral(" - Permission denied"),
                                 QStringLiteral("Failed to read file info: ") +
                                     run.in(QStringLiteral("listable/a.jpg")) +
                                     QStringLiteral(" - Permission denied"),
                                 QStringLiteral("✗ Copy failed: secret.jpg - Permission denied")}));
    QCOMPARE(listTree(run.destination), QStringList{QStringLiteral("ok.jpg")});
    QVERIFY(run.log().contains(QStringLiteral("Total scanned 2 files")));
    QVERIFY(run.log().contains(QStringLiteral("Successfully recovered 1 files")));
}

void SimplifiedRecoveryTest::destinationConflictsAreReportedAndNothingIsLost() {
    Run run;
    writeFile(run.in(QStringLiteral("DCIM/a.jpg")), "new a");
    writeFile(run.in(QStringLiteral("b.jpg")), "new b");
    writeFile(run.in(QStringLiteral("c.jpg")), "new c");
    writeFile(run.out(QStringLiteral("DCIM")), "a file where a folder must go");
    QVERIFY(QDir().mkpath(run.out(QStringLiteral("b.jpg/kept.txt"))));
    writeFile(run.out(QStringLiteral("c.jpg")), "earlier run");
    QList<qint64> scanned;
    connect(run.model.get(), &RecoveryViewModel::scannedCountChanged, this,
            [&] { scanned.append(run.model->scannedCount()); });
    run.recover();

    // A folder in the way: the copy fails, the folder stays. A file in the way of a folder:
    // that file is skipped without a line. An earlier copy is replaced by the new one.
    QCOMPARE(walkLines(run.log()), QStringList{QStringLiteral("✗ Copy failed: b.jpg - Is a directory")});
    QVERIFY(QFileInfo(run.out(QStringLiteral("b.jpg/kept.txt"))).isDir());
    QCOMPARE(readBytes(native(run.out(QStringLiteral("DCIM")))), QByteArray("a file where a folder must go"));
    QCOMPARE(readBytes(native(run.out(QStringLiteral("c.jpg")))), QByteArray("new c"));
    QCOMPARE(run.model->recoveredCount(), 1);
    QVERIFY(run.log().contains(QStringLiteral("Total scanned 3 files")));
}

void SimplifiedRecoveryTest::neverCopiesItsOwnCopies() {
    Run run;
    writeFile(run.in(QStringLiteral("a.jpg")), "a");
    const QString inside = run.in(QStringLiteral("Vellorin/Recovery-1/recovered_files"));
    writeFile(inside + QStringLiteral("/old.jpg"), "copied by an earlier run");
    run.recover(run.source, inside);
    QCOMPARE(listTree(inside), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("old.jpg")}));
    QVERIFY(run.log().contains(QStringLiteral("Total scanned 1 files")));
}

void SimplifiedRecoveryTest::kernelPseudoFileSystemsAreNotEntered() {
    {
        // With every file type on, /proc/kcore alone would fill the save location.
        Run run;
        run.model->setRecoverAllFiles(true);
        run.recover(QStringLiteral("/proc"), run.destination);
        QVERIFY(run.log().contains(QStringLiteral("Total scanned 0 files")));
        QVERIFY(listTree(run.destination).isEmpty());
    }
    Run run;
    writeFile(run.in(QStringLiteral("keep.txt")), "k");
    QCOMPARE(::symlink("/proc", native(run.in(QStringLiteral("proc-link"))).c_str()), 0);
    const QString mountPoint = run.in(QStringLiteral("mounted-proc"));
    QDir().mkpath(mountPoint);
    const bool mounted =
        ::geteuid() == 0 && ::mount("proc", native(mountPoint).c_str(), "proc", 0, nullptr) == 0;
    if (!mounted)
        qInfo("proc could not be mounted here; the link case alone is checked");
    run.model->setRecoverAllFiles(true);
    run.recover();
    if (mounted)
        ::umount2(native(mountPoint).c_str(), MNT_DETACH);
    QCOMPARE(listTree(run.destination),
             (QStringList{QStringLiteral("keep.txt"), QStringLiteral("proc-link")}));
    QVERIFY(QFileInfo(run.out(QStringLiteral("proc-link"))).isSymLink());
}

void SimplifiedRecoveryTest::twoNamesForOneDestinationKeepBothCopies() {
    // Two source files that land on one item, as "IMG.jpg" and "img.jpg" do on a
    // case-insensitive save location: two walks into one copier stand in for that.
    QTemporaryDir scratch;
    const std::string first = native(scratch.filePath(QStringLiteral("one")));
    const std::string second = native(scratch.filePath(QStringLiteral("two")));
    const std::string destination = native(scratch.filePath(QStringLiteral("out")));
    writeBytes(first + "/DCIM/IMG.jpg", "first");
    writeBytes(second + "/DCIM/IMG.jpg", "second");
    writeBytes(destination + "/DCIM/IMG (2).jpg", "taken already");
    writeBytes(destination + "/DCIM/IMG.jpg", "earlier run");

    class CopyAll final : public WalkVisitor {
      public:
        explicit CopyAll(FileCopier& copier) : copier_(copier) {}
        void visitFile(const WalkEntry& entry) override {
            const auto stat = std::get<EntryStat>(PosixFileSystem().statEntry(entry));
            results.push_back(copier_.copy(entry, stat));
        }
        void folderError(std::string_view, const Error&) override {}
        void entryError(std::string_view, const Error&) override {}
        std::vector<FileCopier::Result> results;

      private:
        FileCopier& copier_;
    };
    FileCopier copier(destination);
    CopyAll visitor(copier);
    QVERIFY(!walkTree(first, {}, visitor));
    QVERIFY(!walkTree(second, {}, visitor));
    QCOMPARE(visitor.results.size(), std::size_t(2));
    QCOMPARE(visitor.results[0].destination, destination + "/DCIM/IMG.jpg");
    QCOMPARE(visitor.results[1].destination, destination + "/DCIM/IMG (3).jpg");
    QCOMPARE(readBytes(destination + "/DCIM/IMG.jpg"), QByteArray("first"));
    QCOMPARE(readBytes(destination + "/DCIM/IMG (2).jpg"), QByteArray("taken already"));
    QCOMPARE(readBytes(destination + "/DCIM/IMG (3).jpg"), QByteArray("second"));
}

void SimplifiedRecoveryTest::switchingTheOptionDuringARunAppliesToLaterFiles() {
    // Holds the walk after its hundredth file until the main thread has flipped the option.
    class PausingFileSystem final : public PosixFileSystem {
      public:
        std::function<void()> afterHundredFiles;
        std::optional<Error> walk(const QString& root, const WalkOptions& options,
                                  WalkVisitor& visitor) override {
            class Counting final : public WalkVisitor {
              public:
                Counting(WalkVisitor& inner, std::function<void()>& hook) : inner_(inner), hook_(hook) {}
                void visitFile(const WalkEntry& entry) override {
                    inner_.visitFile(entry);
                    if (++count_ == 100)
                        hook_();
                }
                void folderError(std::string_view p, const Error& e) override { inner_.folderError(p, e); }
                void entryError(std::string_view p, const Error& e) override { inner_.entryError(p, e); }

              private:
                WalkVisitor& inner_;
                std::function<void()>& hook_;
                int count_ = 0;
            };
            Counting counting(visitor, afterHundredFiles);
            return PosixFileSystem::walk(root, options, counting);
        }
    };
    Run run;
    auto fs = std::make_shared<PausingFileSystem>();
    run.test.fileSystem = fs;
    run.model = RecoveryViewModel::create(run.test.platform());
    for (int i = 0; i < 400; ++i)
        writeFile(run.in(QStringLiteral("f%1.bin").arg(i, 3, 10, QLatin1Char('0'))), "x");
    std::binary_semaphore flipped(0);
    fs->afterHundredFiles = [&] {
        run.test.queues->postMain([&] {
            run.model->setRecoverAllFiles(true);
            flipped.release();
        });
        flipped.acquire();
    };
    // The walk waits for the main thread here, so the event loop must turn while it runs.
    run.test.queues->userInitiated([model = run.model, from = run.source, to = run.destination] {
        model->runSimplifiedRecovery(from, to);
    });
    QTRY_VERIFY_WITH_TIMEOUT(run.log().contains(QStringLiteral("Scan completed!")), 30000);
    settle(*run.test.queues);
    QCOMPARE(run.model->recoveredCount(), 300);
    QVERIFY(run.log().contains(QStringLiteral("Total scanned 400 files")));
}

QTEST_MAIN(SimplifiedRecoveryTest)
#include "tst_simplified_recovery.moc"
