// Faults met while a run is under way: a disk that breaks a listing off, entries whose
// properties cannot be read, a recovery folder taken away mid-run, leftovers of a killed
// run, a second panel answered during a run, and the fallbacks of a deep recovery.
#include "platform/TreeWalk.h"
#include "support/Fakes.h"
#include "support/TreeHelpers.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <future>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// The real file system, with faults put in on purpose: a folder whose listing breaks off
// after some entries, a name whose properties cannot be read, and a hook run before each
// entry's properties are read (on the walking thread).
class FaultyFileSystem final : public PosixFileSystem {
  public:
    std::optional<FileId> brokenFolder;
    int entriesBeforeBreak = 0;
    QString unreadableName;
    std::function<void(int)> beforeEachEntry;

    std::optional<Error> walk(const QString& root, const WalkOptions& options,
                              WalkVisitor& visitor) override {
        std::map<ino_t, int> listed;
        return walkTree(nativePath(root), options, visitor, [&](DIR* dir) -> dirent* {
            struct stat st {};
            ::fstat(::dirfd(dir), &st);
            if (brokenFolder && FileId{st.st_dev, st.st_ino} == *brokenFolder &&
                listed[st.st_ino] >= entriesBeforeBreak) {
                errno = EIO;
                return nullptr;
            }
            dirent* item = ::readdir(dir);
            if (item && item->d_name[0] != '.')
                ++listed[st.st_ino];
            return item;
        });
    }
    std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
        if (beforeEachEntry)
            beforeEachEntry(entries_++);
        if (QFile::decodeName(entry.name) == unreadableName)
            return Error::fromErrno(EIO);
        return PosixFileSystem::statEntry(entry);
    }

  private:
    int entries_ = 0;
};

struct Run {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    std::shared_ptr<FaultyFileSystem> fs = std::make_shared<FaultyFileSystem>();
    std::shared_ptr<RecoveryViewModel> model;
    QString source = scratch.filePath(QStringLiteral("source"));
    QString save = scratch.filePath(QStringLiteral("save"));
    QString destination = save + QStringLiteral("/recovered_files");

    Run() {
        test.fileSystem = fs;
        model = RecoveryViewModel::create(test.platform());
        QDir().mkpath(source);
        QDir().mkpath(destination);
    }
    void file(const QString& relative) { writeFile(source + QLatin1Char('/') + relative, relative.toUtf8()); }
    void recover() {
        test.queues->userInitiated(
            [model = model, s = source, d = destination] { model->runSimplifiedRecovery(s, d); });
        settle(*test.queues);
    }
    QStringList log() const { return logMessages(model->logText()); }
};

FileId idOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return {st.st_dev, st.st_ino};
}

void setModified(const QString& path, time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

// A resource folder that is gone when the run asks for it again.
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

} // namespace

class RecoveryFaultsTest : public QObject {
    Q_OBJECT

  private slots:
    void walkFaultsAreLoggedAndTheWalkGoesOn_data();
    void walkFaultsAreLoggedAndTheWalkGoesOn();
    void aRecoveryFolderTakenAwayMidRunIsMadeAgain_data();
    void aRecoveryFolderTakenAwayMidRunIsMadeAgain();
    void onlyOurOwnStaleTemporariesAreRemoved();
    void aSecondSavePanelAnsweredDuringARunChangesNothing();
    void deepFallbacksPrepareTheFolderOnce_data();
    void deepFallbacksPrepareTheFolderOnce();
};

void RecoveryFaultsTest::walkFaultsAreLoggedAndTheWalkGoesOn_data() {
    QTest::addColumn<QString>("brokenFolder"); // relative to the source; "-" for none
    QTest::addColumn<QString>("unreadable");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("scanned");
    QTest::addColumn<int>("recovered");
    // The source: a/1.jpg a/2.jpg a/3.jpg b/4.jpg top.jpg notes.xyz
    QTest::newRow("a folder's listing breaks off")
        << "a"
        << ""
        << "Enumeration error: %1/a - Input/output error" << 4 << 3;
    QTest::newRow("the source's own listing breaks off")
        << ""
        << ""
        << "Enumeration error: %1 - Input/output error" << 0 << 0;
    QTest::newRow("a file that does not qualify cannot be read")
        << "-"
        << "notes.xyz"
        << "Failed to read file info: %1/notes.xyz - Input/output error" << 5 << 5;
    QTest::newRow("a file that qualifies cannot be read")
        << "-"
        << "top.jpg"
        << "Failed to read file info: %1/top.jpg - Input/output error" << 5 << 4;
}

void RecoveryFaultsTest::walkFaultsAreLoggedAndTheWalkGoesOn() {
    QFETCH(QString, brokenFolder);
    QFETCH(QString, unreadable);
    QFETCH(QString, line);
    QFETCH(int, scanned);
    QFETCH(int, recovered);
    Run run;
    for (const char* name : {"a/1.jpg", "a/2.jpg", "a/3.jpg", "b/4.jpg", "top.jpg", "notes.xyz"})
        run.file(QString::fromLatin1(name));
    if (brokenFolder != QStringLiteral("-")) {
        run.fs->brokenFolder = idOf(run.source + QLatin1Char('/') + brokenFolder);
        run.fs->entriesBeforeBreak = brokenFolder.isEmpty() ? 0 : 1;
    }
    run.fs->unreadableName = unreadable;
    run.recover();

    const QStringList log = run.log();
    QVERIFY2(log.contains(line.arg(run.source)), qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY2(log.contains(QStringLiteral("Total scanned %1 files").arg(scanned)),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(log.contains(QStringLiteral("Successfully recovered %1 files").arg(recovered)));
    QCOMPARE(run.model->scannedCount(), scanned);
}

void RecoveryFaultsTest::aRecoveryFolderTakenAwayMidRunIsMadeAgain_data() {
    QTest::addColumn<bool>("renamed");
    QTest::newRow("renamed") << true;
    QTest::newRow("deleted") << false;
}

void RecoveryFaultsTest::aRecoveryFolderTakenAwayMidRunIsMadeAgain() {
    QFETCH(bool, renamed);
    Run run;
    for (int i = 1; i <= 5; ++i)
        run.file(QStringLiteral("d/%1.jpg").arg(i));
    const QString moved = run.save + QStringLiteral("/moved");
    // Once the first copy is made, the recovery folder goes: later copies must not follow it
    // into its new place, nor vanish with it.
    run.fs->beforeEachEntry = [&](int index) {
        if (index != 1)
            return;
        if (renamed)
            QDir().rename(run.destination, moved);
        else
            QDir(run.destination).removeRecursively();
    };
    run.recover();

    const QStringList log = run.log();
    QVERIFY2(log.contains(QStringLiteral("Successfully recovered 5 files")),
             qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(listTree(run.destination).size(), 4);
    QCOMPARE(QDir(moved).exists() ? listTree(moved).size() : 0, renamed ? 1 : 0);
    for (const RecoveredFile& file : run.model->recoveredFiles().mid(0, 4))
        QVERIFY2(QFileInfo(file.path()).isFile(), qPrintable(file.path()));
}

void RecoveryFaultsTest::onlyOurOwnStaleTemporariesAreRemoved() {
    Run run;
    run.file(QStringLiteral("x/new.jpg"));
    const QString folder = run.destination + QStringLiteral("/x");
    const QString stale = folder + QStringLiteral("/.vellorin-0123456789abcdef.part");
    const QString fresh = folder + QStringLiteral("/.vellorin-fedcba9876543210.part");
    const QString foreign = folder + QStringLiteral("/.vellorin-notmadebyus.part");
    const QString folderNamedLikeOne = run.destination + QStringLiteral("/.vellorin-00000000000000aa.part");
    const QString linkNamedLikeOne = run.destination + QStringLiteral("/.vellorin-00000000000000bb.part");
    const QString linkTarget = run.scratch.filePath(QStringLiteral("target"));
    for (const QString& path : {stale, fresh, foreign, linkTarget})
        writeFile(path, "left over");
    QVERIFY(QDir().mkpath(folderNamedLikeOne));
    QVERIFY(QFile::link(linkTarget, linkNamedLikeOne));
    const time_t now = ::time(nullptr);
    setModified(stale, now - 3600);
    setModified(foreign, now - 3600);
    setModified(fresh, now + 3600); // a copy another run is making
    setModified(linkNamedLikeOne, now - 3600);
    run.recover();

    QVERIFY(!QFileInfo::exists(stale));
    for (const QString& kept : {fresh, foreign, folderNamedLikeOne, linkTarget})
        QVERIFY2(QFileInfo::exists(kept), qPrintable(kept));
    QVERIFY(QFileInfo(linkNamedLikeOne).isSymLink());
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/new.jpg")));
}

void RecoveryFaultsTest::aSecondSavePanelAnsweredDuringARunChangesNothing() {
    Run run;
    run.file(QStringLiteral("a.jpg"));
    const QString otherSave = run.scratch.filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(otherSave));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    run.fs->beforeEachEntry = [released](int) { released.wait(); };

    run.model->selectSourceLocation();
    run.test.panels->answer(run.source);
    settle(*run.test.queues);
    run.model->selectSaveLocationAndStart();
    run.model->selectSaveLocationAndStart();
    QCOMPARE(run.test.panels->requests.size(), std::size_t(2));
    run.test.panels->answer(run.save);
    QTRY_VERIFY(run.model->isRecovering());
    run.test.panels->answer(otherSave);
    QTest::qWait(50);
    release.set_value();
    settle(*run.test.queues);

    const QStringList log = run.log();
    QCOMPARE(log.count(QStringLiteral("Starting data recovery...")), 1);
    QVERIFY(log.contains(QStringLiteral("Output path: ") + run.save));
    QVERIFY(!log.contains(QStringLiteral("Output path: ") + otherSave));
    QVERIFY(!QFileInfo::exists(otherSave + QStringLiteral("/recovered_files")));
    QCOMPARE(run.test.alerts->shown.size(), std::size_t(1)); // the completion alert, once
    QCOMPARE(run.model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

void RecoveryFaultsTest::deepFallbacksPrepareTheFolderOnce_data() {
    QTest::addColumn<bool>("resourcesVanish");
    QTest::newRow("the engine cannot be launched") << false;
    QTest::newRow("the resource folder is gone when the run asks") << true;
}

void RecoveryFaultsTest::deepFallbacksPrepareTheFolderOnce() {
    QFETCH(bool, resourcesVanish);
    Run run;
    run.file(QStringLiteral("a.jpg"));
    const QString resources = run.scratch.filePath(QStringLiteral("resources"));
    writeFile(resources + QStringLiteral("/photorec_auto.sh"), "exit 0\n");
    writeFile(resources + QStringLiteral("/photorec"), "");
    if (resourcesVanish)
        run.test.resources = std::make_shared<VanishingResources>(resources);
    else
        run.test.resources = std::make_shared<FixedResources>(resources);
    run.test.engine = std::make_shared<FailingEngineLauncher>(ENOENT);
    run.model = RecoveryViewModel::create(run.test.platform());
    // "recovered_files" cannot be made in the save location: the run takes the fallback folder.
    QVERIFY(QDir(run.destination).removeRecursively());
    writeFile(run.destination, "in the way");

    run.model->startRecovery(run.source, run.save);
    settle(*run.test.queues);

    const QStringList log = run.log();
    QCOMPARE(log.filter(QStringLiteral("Using fallback recovery path: ")).size(), 1);
    QCOMPARE(log.count(QStringLiteral("Starting to scan directory: ") + run.source), 1);
    int fallbackAlerts = 0;
    for (const auto& alert : run.test.alerts->shown)
        fallbackAlerts += alert.title == QStringLiteral("Using Fallback Save Path");
    QCOMPARE(fallbackAlerts, 1);
    const QStringList folders = QDir(run.scratch.filePath(QStringLiteral("data/Vellorin")))
                                    .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders.size(), 1);
    QVERIFY(QFileInfo::exists(run.scratch.filePath(QStringLiteral("data/Vellorin/")) + folders.first() +
                              QStringLiteral("/recovered_files/a.jpg")));
    QCOMPARE(run.model->statusMessage(), QStringLiteral("Recovery Completed!"));
}

QTEST_GUILESS_MAIN(RecoveryFaultsTest)
#include "tst_recovery_faults.moc"
