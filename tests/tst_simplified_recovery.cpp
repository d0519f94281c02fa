// The simplified recovery: the save location it prepares, the walk and its copies, and what
// the user is told along the way, in the log and in alerts.

#include "platform/LineInbox.h"
#include "platform/MainThreadBatches.h"
#include "platform/TreeWalk.h"
#include "support/Fakes.h"

#include <QDir>
#include <QtTest>

#include <filesystem>
#include <numeric>
#include <thread>

#include <fcntl.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

struct Run : Scratch {
    // Files below the source, each "x".
    void make(const QStringList& names) {
        for (const QString& name : names)
            writeFile(source + u'/' + name);
    }
    void recover(const QString& from, const QString& to) {
        test.queues->userInitiated([model = model, from, to] { model->runSimplifiedRecovery(from, to); });
        settle(*test.queues);
    }
    void recover() {
        QDir().mkpath(recovered);
        recover(source, recovered);
    }
    std::optional<QString> prepare() {
        std::optional<QString> directory = u"unset"_s;
        test.queues->userInitiated([&] { directory = model->prepareRecoveryDirectory(save); });
        settle(*test.queues);
        return directory;
    }
    // The lines the walk itself wrote, between its first line and its summary, sorted.
    QStringList walkLines() const {
        QStringList lines = log();
        lines = lines.mid(1, lines.indexOf(u"Scan completed!"_s) - 1);
        lines.sort();
        return lines;
    }
};

// The real file system with faults put in on purpose: a folder whose listing breaks off after
// some entries, a name whose properties cannot be read, and a hook run on the walking thread
// before each entry is read.
struct FaultyFileSystem final : PosixFileSystem {
    std::optional<FileId> brokenFolder;
    int entriesBeforeBreak = 0;
    QString unreadableName;
    std::function<void(int)> beforeEachEntry;
    int entries = 0;

    std::optional<Error> walk(const QString& root, const WalkOptions& options,
                              WalkVisitor& visitor) override {
        int listed = 0;
        return walkTree(nativePath(root), options, visitor, [&](DIR* dir) -> dirent* {
            struct stat st {};
            const bool broken = ::fstat(::dirfd(dir), &st) == 0 && brokenFolder &&
                                FileId{st.st_dev, st.st_ino} == *brokenFolder;
            if (broken && listed >= entriesBeforeBreak) {
                errno = EIO;
                return nullptr;
            }
            dirent* item = ::readdir(dir);
            listed += broken && item && item->d_name[0] != '.';
            return item;
        });
    }
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
        if (beforeEachEntry)
            beforeEachEntry(entries++);
        if (QFile::decodeName(entry.name) == unreadableName)
            return Error::fromErrno(EIO);
        return PosixFileSystem::statEntry(entry);
    }
};

std::shared_ptr<FaultyFileSystem> putFaultsIn(Run& run) {
    auto faulty = std::make_shared<FaultyFileSystem>();
    run.test.fileSystem = faulty;
    run.remake();
    return faulty;
}

} // namespace

class SimplifiedRecoveryTest : public QObject {
    Q_OBJECT

  private slots:
    void aWholeRunToTheOpenedFolder() {
        Run run;
        run.make({u"DCIM/100CANON/IMG_0001.JPG"_s, u"photo.jpeg"_s, u"clip.mp4.part"_s, u"notes.md"_s,
                  u"Makefile"_s, u".hidden.jpg"_s, u".thumbs/t.jpg"_s});
        writeFile(run.source + u"/archive/Backup.TAR.GZ"_s, QByteArray(70000, 'z'));
        QCOMPARE(::symlink("photo.jpeg", native(run.source + u"/link.jpg"_s).c_str()), 0);
        QCOMPARE(::mkfifo(native(run.source + u"/pipe.jpg"_s).c_str(), 0644), 0); // a copy would block on it
        const std::string dated = native(run.source + u"/DCIM/100CANON/IMG_0001.JPG"_s);
        const struct timespec times[2] = {{1'600'000'000, 0}, {1'500'000'000, 123'000'000}};
        QVERIFY(::chmod(dated.c_str(), 06750) == 0 && ::utimensat(AT_FDCWD, dated.c_str(), times, 0) == 0);

        RecoveryViewModel& model = *run.model;
        QStringList statuses, heads;
        connect(&model, &RecoveryViewModel::statusMessageChanged, this,
                [&] { statuses << model.statusMessage(); });
        connect(&model, &RecoveryViewModel::recoveredFilesPrepended, this, [&](qsizetype count) {
            for (qsizetype i = count - 1; i >= 0; --i)
                heads.prepend(model.recoveredFiles().value(i).path());
        });
        run.test.alerts->answers = {0};
        QVERIFY(run.run());

        const QString& out = run.recovered;
        QCOMPARE(run.log(),
                 (QStringList{u"Starting data recovery..."_s, u"Source path: "_s + run.source,
                              u"Output path: "_s + run.save, u"Using simplified recovery algorithm..."_s,
                              u"Creating recovery directory: "_s + out,
                              u"Starting to scan directory: "_s + run.source, u"Scan completed!"_s,
                              u"Total scanned 7 files"_s, u"Successfully recovered 4 files"_s,
                              u"Data recovery completed!"_s, u"Recovered files saved in: "_s + out}));
        // A status for each copy, with the count as it stands when it shows, then the ending.
        QCOMPARE(statuses.mid(statuses.size() - 2),
                 (QStringList{u"Recovered 4 files..."_s, u"Recovery Completed!"_s}));
        QCOMPARE(run.test.alerts->only(),
                 (QStringList{u"Recovery Completed"_s,
                              u"Data recovery is complete. Do you want to open the folder containing "
                              "the recovered files?"_s,
                              u"Open Folder"_s, u"View Later"_s}));
        QCOMPARE(run.test.workspace->opened, QStringList{out});

        // The mirrored tree, with modes, times and link targets, and no probe or temporary left.
        QCOMPARE(listTree(run.save),
                 (QStringList{u"recovered_files/DCIM/100CANON/IMG_0001.JPG"_s,
                              u"recovered_files/archive/Backup.TAR.GZ"_s, u"recovered_files/link.jpg"_s,
                              u"recovered_files/photo.jpeg"_s}));
        QCOMPARE(readFile(native(out + u"/archive/Backup.TAR.GZ"_s)), QByteArray(70000, 'z'));
        QCOMPARE(QFile::symLinkTarget(out + u"/link.jpg"_s), out + u"/photo.jpeg"_s);
        struct stat copied {};
        QCOMPARE(::stat(native(out + u"/DCIM/100CANON/IMG_0001.JPG"_s).c_str(), &copied), 0);
        QCOMPARE(copied.st_mode & 07777, mode_t(0750)); // without set-user-ID and set-group-ID
        QCOMPARE(copied.st_mtim.tv_sec * 1'000'000'000LL + copied.st_mtim.tv_nsec,
                 1'500'000'000'123'000'000LL);

        // Newest first: each copy went to the head of the list.
        QStringList listed;
        for (const RecoveredFile& file : model.recoveredFiles())
            listed << file.path() + u':' + QString::number(file.size());
        QVERIFY(listed.contains(out + u"/archive/Backup.TAR.GZ:70000"_s));
        QCOMPARE(listed.replaceInStrings(QRegularExpression(u":\\d+$"_s), QString()), heads);
    }

    void linesAreStampedWhenTheyReachTheLog() {
        Run run;
        run.model->appendLog(u"Scan completed!"_s);
        run.model->appendLog(u"  two\nlines  \n"_s); // taken as given
        QVERIFY(run.model->logText().isEmpty());     // posted, not written in the call
        const QDateTime reached(QDate(2026, 3, 1), QTime(9, 15, 7));
        run.test.clock->set(reached);
        settle(*run.test.queues);
        const QString stamp = u'[' + formatLogTime(reached) + u"] "_s;
        QCOMPARE(run.model->logText(), stamp + u"Scan completed!\n"_s + stamp + u"  two\nlines  \n\n"_s);
    }

    void runsThatEndBeforeCopying_data() {
        QTest::addColumn<QString>("source"); // below the scratch folder
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<Color>("color");
        QTest::newRow("missing")
            << u"no/such"_s
            << QStringList{u"Error: Source path does not exist - @"_s,
                           u"Error starting recovery process: Source path does not exist"_s,
                           u"Start failed: Source path does not exist"_s}
            << Color::Red;
        QTest::newRow("a file")
            << u"source/disk.jpg"_s
            << QStringList{u"Error: Failed to create file enumerator"_s,
                           u"Error starting recovery process: Failed to create file enumerator"_s,
                           u"Start failed: Failed to create file enumerator"_s}
            << Color::Red;
        QTest::newRow("only folders")
            << u"source/only"_s
            << QStringList{u"Scan completed!"_s, u"Total scanned 0 files"_s,
                           u"Successfully recovered 0 files"_s, u"No recoverable files found"_s,
                           u"No recoverable files found"_s}
            << Color::Primary;
    }

    // The lines, then the status.
    void runsThatEndBeforeCopying() {
        QFETCH(QString, source);
        QFETCH(QStringList, lines);
        QFETCH(Color, color);
        Run run;
        run.make({u"disk.jpg"_s, u"only/folders/.hidden"_s});
        run.model->setRecoverAllFiles(true);
        const QString path = run.dir.filePath(source);
        run.recover(path, run.recovered);
        QCOMPARE(run.log() << run.model->statusMessage(),
                 QStringList{u"Starting to scan directory: "_s + path} +
                     lines.replaceInStrings(u"@"_s, path));
        QCOMPARE(run.model->statusColor(), color);
        QVERIFY(!run.model->isRecovering() && run.test.alerts->shown.empty());
    }

    void aSaveLocationInTheWayFallsBack() {
        Run run;
        run.test.clock->set(QDateTime::fromSecsSinceEpoch(1'790'000'123));
        writeFile(run.recovered, "a file where the folder must go");
        const QString folder = run.dir.filePath(u"data/Vellorin/Recovery-1790000123"_s);
        QCOMPARE(run.prepare(), std::optional<QString>(folder + u"/recovered_files"_s));
        QVERIFY(QFileInfo(folder + u"/recovered_files"_s).isDir());
        QCOMPARE(run.log() << run.model->statusMessage(),
                 (QStringList{u"Failed to create directory: File exists"_s,
                              u"Using fallback recovery path: "_s + folder + u"/recovered_files"_s,
                              u"Permission denied, using fallback path"_s}));
        QCOMPARE(run.model->statusColor(), Color::Orange);
        QCOMPARE(run.test.alerts->only(),
                 (QStringList{u"Using Fallback Save Path"_s,
                              u"The selected location is not writable.\nFiles will be saved to:\n"_s +
                                  folder + u"\nYou can move them later."_s,
                              u"OK"_s}));
        for (const QString& made :
             {run.dir.filePath(u"data/Vellorin"_s), folder, folder + u"/recovered_files"_s})
            QCOMPARE(QFileInfo(made).permissions() & 0x7077,
                     QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // A "Vellorin" that is a link, and one of another user's, are passed over.
        Run squatted;
        squatted.test.clock->set(QDateTime::fromSecsSinceEpoch(1'790'000'123));
        const QString elsewhere = squatted.dir.filePath(u"elsewhere"_s),
                      data = squatted.dir.filePath(u"data"_s);
        QDir().mkpath(elsewhere), QDir().mkpath(data + u"/Vellorin-1"_s);
        QVERIFY(QFile::link(elsewhere, data + u"/Vellorin"_s));
        const passwd* nobody = ::getpwnam("nobody");
        const bool foreign =
            ::geteuid() == 0 && nobody &&
            ::chown(native(data + u"/Vellorin-1"_s).c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
        writeFile(squatted.recovered);
        QCOMPARE(squatted.prepare(),
                 std::optional<QString>(data + (foreign ? u"/Vellorin-2"_s : u"/Vellorin-1"_s) +
                                        u"/Recovery-1790000123/recovered_files"_s));
        QCOMPARE(listTree(elsewhere), QStringList{});

        // The user data folder is a file as well: nothing is left to fall back on.
        Run blocked;
        writeFile(blocked.dir.filePath(u"data"_s));
        writeFile(blocked.recovered);
        QCOMPARE(blocked.prepare(), std::nullopt);
        QCOMPARE(
            blocked.log() << blocked.model->statusMessage(),
            (QStringList{u"Failed to create directory: File exists"_s,
                         u"Fallback path creation failed: File exists"_s,
                         u"Error starting recovery process: File exists"_s, u"Start failed: File exists"_s}));
        QVERIFY(blocked.test.alerts->shown.empty());
    }

    void permissionsAsAnOrdinaryUser() {
        if (::geteuid() == 0) {
            QCOMPARE(rerunAsNobody(QTest::currentTestFunction()), 0);
            return;
        }
        Run run;
        QCOMPARE(::chmod(native(run.save).c_str(), 0555), 0);
        QCOMPARE(run.prepare(), std::nullopt);
        QCOMPARE(
            run.log() << run.model->statusMessage(),
            (QStringList{u"Write permission check failed: Permission denied"_s,
                         u"Write test failed at: "_s + run.save, u"No write permission for save path"_s}));
        QCOMPARE(run.test.alerts->only(),
                 (QStringList{u"No Permission"_s,
                              u"Cannot write to the selected save location.\nPlease choose another "
                              "folder (e.g. Documents/External Drive) and allow access when prompted."_s,
                              u"OK"_s}));
        QCOMPARE(listTree(run.save), QStringList{}); // no probe left behind

        QCOMPARE(::chmod(native(run.source).c_str(), 0300), 0);
        run.recover();
        ::chmod(native(run.source).c_str(), 0755), ::chmod(native(run.save).c_str(), 0755);
        QCOMPARE(run.log().mid(2) << run.model->statusMessage(),
                 (QStringList{u"Starting to scan directory: "_s + run.source,
                              u"Error: Source path is not readable - "_s + run.source,
                              u"Error starting recovery process: Source path is not readable"_s,
                              u"Start failed: Source path is not readable"_s}));

        Run entries;
        entries.make({u"locked/inside.jpg"_s, u"listable/a.jpg"_s, u"secret.jpg"_s, u"ok.jpg"_s});
        const auto mode = [&](const char* name, mode_t bits) {
            QCOMPARE(::chmod((native(entries.source) + name).c_str(), bits), 0);
        };
        mode("/locked", 0), mode("/listable", 0444), mode("/secret.jpg", 0); // 0444: names, but no entries
        entries.recover();
        mode("/locked", 0755), mode("/listable", 0755);
        QCOMPARE(entries.walkLines(),
                 (QStringList{u"Enumeration error: "_s + entries.source + u"/locked - Permission denied"_s,
                              u"Failed to read file info: "_s + entries.source +
                                  u"/listable/a.jpg - Permission denied"_s,
                              u"✗ Copy failed: secret.jpg - Permission denied"_s}));
        QCOMPARE(listTree(entries.recovered), QStringList{u"ok.jpg"_s});
        QVERIFY(entries.log().contains(u"Total scanned 2 files"_s));
    }

    void destinationConflictsAreReportedAndNothingIsLost() {
        Run run;
        run.make({u"DCIM/a.jpg"_s, u"b.jpg"_s});
        writeFile(run.source + u"/c.jpg"_s, "new c");
        writeFile(run.recovered + u"/DCIM"_s, "a file where a folder must go");
        writeFile(run.recovered + u"/b.jpg/kept.txt"_s);
        writeFile(run.recovered + u"/c.jpg"_s, "earlier run");
        run.recover();
        // A folder in the way: the copy fails and the folder stays. A file in the way of a
        // folder: the copy fails and the file stays. An earlier copy is replaced by the new one.
        QCOMPARE(run.walkLines(), (QStringList{u"✗ Copy failed: DCIM/a.jpg - Not a directory"_s,
                                               u"✗ Copy failed: b.jpg - Is a directory"_s}));
        QCOMPARE(listTree(run.recovered), (QStringList{u"DCIM"_s, u"b.jpg/kept.txt"_s, u"c.jpg"_s}));
        QCOMPARE(readFile(native(run.recovered + u"/c.jpg"_s)), QByteArray("new c"));
        QCOMPARE(run.model->recoveredCount(), 1);
    }

    void everyFileTypeButNotItsOwnCopiesHiddenOnesOrKernelFiles() {
        Run run;
        run.make({u"a.txt"_s, u"src/Makefile"_s, u".profile"_s, u".git/config"_s});
        QCOMPARE(::mkfifo(native(run.source + u"/fifo"_s).c_str(), 0644), 0);
        QCOMPARE(::mknod(native(run.source + u"/null"_s).c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        QCOMPARE(::symlink("loop", native(run.source + u"/loop"_s).c_str()), 0);
        const QString inside = run.source + u"/Vellorin/Recovery-1/recovered_files"_s;
        writeFile(inside + u"/old.txt"_s, "copied by an earlier run");
        QCOMPARE(::symlink("/proc", native(run.source + u"/proc-link"_s).c_str()), 0);
        const std::string mountPoint = native(run.source + u"/mounted-proc"_s);
        std::filesystem::create_directory(mountPoint);
        if (::mount("proc", mountPoint.c_str(), "proc", 0, nullptr) != 0)
            qInfo("proc cannot be mounted here; the link case alone is checked");
        // With every file type on, /proc/kcore alone would fill the save location.
        run.model->setRecoverAllFiles(true);
        run.recover(run.source, inside);
        ::umount2(mountPoint.c_str(), MNT_DETACH);
        QCOMPARE(listTree(inside),
                 (QStringList{u"a.txt"_s, u"loop"_s, u"old.txt"_s, u"proc-link"_s, u"src/Makefile"_s}));
        QVERIFY(run.log().contains(u"Total scanned 4 files"_s));
        run.recover(u"/proc"_s, run.recovered);
        QVERIFY(run.log().contains(u"Total scanned 0 files"_s));
    }

    void walkFaultsAreLoggedAndTheWalkGoesOn_data() {
        QTest::addColumn<QString>("brokenFolder"); // relative to the source; "-" for none
        QTest::addColumn<QString>("unreadable");
        QTest::addColumn<QStringList>("lines"); // each in the log; "@" is the source
        // The source: a/1.jpg a/2.jpg a/3.jpg b/4.jpg top.jpg notes.xyz
        QTest::newRow("a folder's listing breaks off")
            << u"a"_s << QString()
            << QStringList{u"Enumeration error: @/a - Input/output error"_s, u"Total scanned 4 files"_s,
                           u"Successfully recovered 3 files"_s};
        QTest::newRow("the source's own listing breaks off")
            << QString() << QString()
            << QStringList{u"Enumeration error: @ - Input/output error"_s, u"Total scanned 0 files"_s};
        QTest::newRow("a file that does not qualify cannot be read")
            << u"-"_s << u"notes.xyz"_s
            << QStringList{u"Failed to read file info: @/notes.xyz - Input/output error"_s,
                           u"Total scanned 5 files"_s, u"Successfully recovered 5 files"_s};
    }

    void walkFaultsAreLoggedAndTheWalkGoesOn() {
        QFETCH(QString, brokenFolder);
        QFETCH(QString, unreadable);
        QFETCH(QStringList, lines);
        Run run;
        run.make({u"a/1.jpg"_s, u"a/2.jpg"_s, u"a/3.jpg"_s, u"b/4.jpg"_s, u"top.jpg"_s, u"notes.xyz"_s});
        auto faulty = putFaultsIn(run);
        if (brokenFolder != u"-"_s) {
            struct stat st {};
            QCOMPARE(::stat(native(run.source + u'/' + brokenFolder).c_str(), &st), 0);
            faulty->brokenFolder = FileId{st.st_dev, st.st_ino};
            faulty->entriesBeforeBreak = brokenFolder.isEmpty() ? 0 : 1;
        }
        faulty->unreadableName = unreadable;
        run.recover();
        for (const QString& line : lines.replaceInStrings(u"@"_s, run.source))
            QVERIFY2(run.log().contains(line), qPrintable(run.log().join(u'\n')));
    }

    void aRecoveryFolderTakenAwayMidRunIsMadeAgain() {
        enum Gone { Renamed, Deleted, SaveLocationDeleted };
        for (const Gone gone : {Renamed, Deleted, SaveLocationDeleted}) {
            Run run;
            run.make({u"d/1.jpg"_s, u"d/2.jpg"_s, u"d/3.jpg"_s, u"d/4.jpg"_s, u"d/5.jpg"_s});
            const QString moved = run.dir.filePath(u"moved"_s);
            // Once the first copy is made the folder goes: later copies neither follow it to its
            // new place nor vanish with it; a save location that is gone is not made again.
            putFaultsIn(run)->beforeEachEntry = [&](int index) {
                if (index == 1)
                    gone == Renamed ? QDir().rename(run.recovered, moved)
                                    : QDir(gone == Deleted ? run.recovered : run.save).removeRecursively();
            };
            run.recover();
            const QStringList log = run.log();
            QCOMPARE(
                log.filter(u"Successfully recovered"_s),
                QStringList{u"Successfully recovered %1 files"_s.arg(gone == SaveLocationDeleted ? 1 : 5)});
            QCOMPARE(log.filter(u" - No such file or directory"_s).size(),
                     gone == SaveLocationDeleted ? 4 : 0);
            QCOMPARE(listTree(run.recovered).size(), gone == SaveLocationDeleted ? 0 : 4);
            QCOMPARE(listTree(moved).size(), gone == Renamed ? 1 : 0);
            QVERIFY(!QFileInfo::exists(run.save) ||
                    QFileInfo(run.model->recoveredFiles().first().path()).isFile());
        }
    }

    void onlyOurOwnStaleTemporariesAreRemoved() {
        Run run;
        run.make({u"x/new.jpg"_s});
        // Ours and older than the run; a folder and a link named like ours; ours but newer
        // (another run's copy under way); not ours.
        const QStringList names{u"x/.vellorin-0123456789abcdef.part"_s,
                                u".vellorin-00000000000000aa.part/kept"_s,
                                u".vellorin-00000000000000bb.part"_s, u"x/.vellorin-fedcba9876543210.part"_s,
                                u"x/.vellorin-notmadebyus.part"_s};
        for (qsizetype i = 0; i < names.size(); ++i) {
            const std::string path = native(run.recovered + u'/' + names[i]);
            i == 2 ? void(::symlink("/etc/hostname", path.c_str())) : writeFile(path);
            const time_t when = ::time(nullptr) + (i == 3 ? 3600 : -3600);
            const struct timespec times[2] = {{when, 0}, {when, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
        }
        run.recover();
        QCOMPARE(listTree(run.recovered), QStringList(names.mid(1)) << u"x/new.jpg"_s);
    }

    // Copies reach the main thread a few times a second, every one of them, in order, a burst
    // in bounded pieces; what was handed over before the worker stalls on a slow file shows
    // during the stall; and a flush lists everything before it goes on.
    // Log lines from two workers reach the main thread in batches, each exactly once and in
    // its writer's order, and never on the wrong side of a task posted before or after it:
    // a task a writer posts after its line finds that line delivered and the next one not.
    void logLinesKeepTheirPlaceAmongTheMainQueuesTasks() {
        auto queues = std::make_shared<QtQueues>();
        LineInbox inbox;
        int seen[2] = {0, 0};
        int deliveries = 0;
        int misplaced = 0;
        int checks = 0;
        const auto delivery = [&] {
            return [&] {
                ++deliveries;
                inbox.deliver([&](QStringView line) {
                    const int writer = line.front() == u'1' ? 1 : 0;
                    misplaced += line.mid(2).toInt() == seen[writer] ? 0 : 1;
                    ++seen[writer];
                });
            };
        };
        constexpr int kLines = 20000;
        std::thread writers[2];
        for (int w = 0; w < 2; ++w) {
            writers[w] = std::thread([&, w] {
                for (int i = 0; i < kLines; ++i) {
                    inbox.add(u"%1:%2"_s.arg(w).arg(i), *queues, delivery);
                    if (i % 1000 == 999) {
                        queues->postMain([&, w, i] {
                            ++checks;
                            misplaced += seen[w] == i + 1 ? 0 : 1;
                        });
                    }
                }
            });
        }
        const bool arrived = QTest::qWaitFor([&] { return seen[0] == kLines && seen[1] == kLines; }, 20000);
        for (std::thread& writer : writers)
            writer.join();
        QVERIFY(arrived);
        QTRY_COMPARE(checks, 2 * kLines / 1000);
        QCOMPARE(misplaced, 0);
        QVERIFY2(deliveries < kLines / 10, qPrintable(QString::number(deliveries)));
    }

    void copiesReachTheListInBatches() {
        auto queues = std::make_shared<QtQueues>();
        std::vector<std::vector<int>> batches;
        auto batcher =
            MainThreadBatches<int>::make(queues, std::chrono::milliseconds(100), 1000,
                                         [&](std::vector<int> items) { batches.push_back(items); });
        std::atomic<bool> shown{false};
        std::atomic<bool> summaryAfterAll{false};
        std::atomic<bool> summarized{false};
        std::thread worker([&] {
            for (int i = 0; i < 20000; ++i)
                batcher->add(i);
            batcher->flush([&] {
                std::size_t total = 0;
                for (const auto& batch : batches)
                    total += batch.size();
                summaryAfterAll = total == 20000;
                summarized = true;
            });
            for (int waited = 0; waited < 4000 && !summarized; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            // One more, then a stall that outlasts the interval many times over.
            batcher->add(-1);
            for (int waited = 0; waited < 500 && !shown; ++waited)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        const bool arrived =
            QTest::qWaitFor([&] { return !batches.empty() && batches.back().back() == -1; }, 4000);
        shown = true;
        worker.join();
        QVERIFY(arrived);
        QVERIFY(summaryAfterAll);
        std::vector<int> all;
        for (const auto& batch : batches)
            all.insert(all.end(), batch.begin(), batch.end());
        all.pop_back();
        std::vector<int> expected(20000);
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(all, expected);
        QVERIFY2(batches.size() < 200, qPrintable(QString::number(batches.size())));
        // A burst comes in bounded pieces, also what the flush hands over.
        QVERIFY(std::none_of(batches.cbegin(), batches.cend(),
                             [](const auto& batch) { return batch.size() > 1000; }));
    }
};

QTEST_MAIN(SimplifiedRecoveryTest)
#include "tst_simplified_recovery.moc"
