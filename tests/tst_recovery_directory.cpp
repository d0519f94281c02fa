#include "support/Fakes.h"
#include "support/Unprivileged.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

// The file system with a probe that can be written but not removed again.
class StickyProbeFileSystem final : public PosixFileSystem {
  public:
    std::optional<Error> removeItem(const QString& path) override {
        if (path.endsWith(QStringLiteral(".vellorin_write_test")))
            return Error::fromErrno(EPERM);
        return PosixFileSystem::removeItem(path);
    }
};

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

struct Prepared {
    std::optional<QString> directory;
    QStringList log;
};

Prepared prepare(TestPlatform& test, const QString& savePath) {
    auto model = RecoveryViewModel::create(test.platform());
    Prepared result;
    test.queues->userInitiated([&] { result.directory = model->prepareRecoveryDirectory(savePath); });
    settle(*test.queues);
    result.log = logMessages(model->logText());
    return result;
}

} // namespace

class RecoveryDirectoryTest : public QObject {
    Q_OBJECT

  private slots:
    void existingFolderIsReusedAsItIs();
    void aPlainFileInTheWayFallsBackToTheUserDataFolder();
    void fallbackFailingTooFailsTheRecovery();
    void fallbacksWithinOneSecondShareAFolder();
    void readOnlySaveLocationIsRefusedWithoutLeavingAProbe();
    void probeThatCannotBeRemovedFailsTheWriteTest();
};

void RecoveryDirectoryTest::existingFolderIsReusedAsItIs() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    const QString save = scratch.filePath(QStringLiteral("save"));
    QVERIFY(QDir().mkpath(save + QStringLiteral("/recovered_files/earlier")));
    writeFile(save + QStringLiteral("/recovered_files/earlier/a.jpg"), "kept");

    auto model = RecoveryViewModel::create(test.platform());
    std::optional<QString> directory;
    test.queues->userInitiated([&] { directory = model->prepareRecoveryDirectory(save); });
    settle(*test.queues);

    QCOMPARE(directory, std::optional<QString>(save + QStringLiteral("/recovered_files")));
    QCOMPARE(logMessages(model->logText()),
             QStringList{QStringLiteral("Creating recovery directory: ") + *directory});
    QCOMPARE(model->statusColor(), Color::Primary);
    QVERIFY(test.alerts->shown.empty());
    QFile kept(save + QStringLiteral("/recovered_files/earlier/a.jpg"));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept"));
    QVERIFY(!QFile::exists(save + QStringLiteral("/.vellorin_write_test")));
    QCOMPARE(QDir(save).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("recovered_files")});
}

void RecoveryDirectoryTest::aPlainFileInTheWayFallsBackToTheUserDataFolder() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'790'000'123);
    test.clock->set(now);
    const QString save = scratch.filePath(QStringLiteral("save"));
    QVERIFY(QDir().mkpath(save));
    writeFile(save + QStringLiteral("/recovered_files"), "not a folder");

    auto model = RecoveryViewModel::create(test.platform());
    std::optional<QString> directory;
    test.queues->userInitiated([&] { directory = model->prepareRecoveryDirectory(save); });
    settle(*test.queues);

    const QString folder = scratch.filePath(QStringLiteral("data/Vellorin/Recovery-1790000123"));
    QCOMPARE(directory, std::optional<QString>(folder + QStringLiteral("/recovered_files")));
    QVERIFY(QFileInfo(*directory).isDir());
    QCOMPARE(logMessages(model->logText()),
             (QStringList{QStringLiteral("Failed to create directory: File exists"),
                          QStringLiteral("Using fallback recovery path: ") + *directory}));
    QCOMPARE(model->statusMessage(), QStringLiteral("Permission denied, using fallback path"));
    QCOMPARE(model->statusColor(), Color::Orange);
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(test.alerts->shown[0].title, QStringLiteral("Using Fallback Save Path"));
    QCOMPARE(test.alerts->shown[0].message,
             QStringLiteral("The selected location is not writable.\nFiles will be saved to:\n") + folder +
                 QStringLiteral("\nYou can move them later."));
    QCOMPARE(test.alerts->shown[0].buttons, QStringList{QStringLiteral("OK")});
}

void RecoveryDirectoryTest::fallbackFailingTooFailsTheRecovery() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    // The user data folder is a file, so nothing can be made below it.
    writeFile(scratch.filePath(QStringLiteral("data")), "x");
    const QString save = scratch.filePath(QStringLiteral("save"));
    QVERIFY(QDir().mkpath(save));
    writeFile(save + QStringLiteral("/recovered_files"), "x");

    auto model = RecoveryViewModel::create(test.platform());
    std::optional<QString> directory = QStringLiteral("unset");
    test.queues->userInitiated([&] { directory = model->prepareRecoveryDirectory(save); });
    settle(*test.queues);

    QVERIFY(!directory);
    QCOMPARE(logMessages(model->logText()),
             (QStringList{QStringLiteral("Failed to create directory: File exists"),
                          QStringLiteral("Fallback path creation failed: Not a directory"),
                          QStringLiteral("Error starting recovery process: File exists")}));
    QCOMPARE(model->statusMessage(), QStringLiteral("Start failed: File exists"));
    QCOMPARE(model->statusColor(), Color::Red);
    QVERIFY(!model->isRecovering());
    QVERIFY(test.alerts->shown.empty());
}

void RecoveryDirectoryTest::fallbacksWithinOneSecondShareAFolder() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    test.clock->set(QDateTime::fromSecsSinceEpoch(1'800'000'000));
    auto model = RecoveryViewModel::create(test.platform());
    const auto first = model->makeFallbackDirectory();
    const auto second = model->makeFallbackDirectory();
    QVERIFY(first);
    QCOMPARE(second, first);
    QCOMPARE(first->section(QLatin1Char('/'), -3),
             QStringLiteral("Vellorin/Recovery-1800000000/recovered_files"));
}

void RecoveryDirectoryTest::readOnlySaveLocationIsRefusedWithoutLeavingAProbe() {
    VELLORIN_RUN_UNPRIVILEGED();
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    const QString save = scratch.filePath(QStringLiteral("save"));
    QVERIFY(QDir().mkpath(save));
    QCOMPARE(::chmod(QFile::encodeName(save).constData(), 0555), 0);

    auto model = RecoveryViewModel::create(test.platform());
    std::optional<QString> directory = QStringLiteral("unset");
    test.queues->userInitiated([&] { directory = model->prepareRecoveryDirectory(save); });
    settle(*test.queues);
    ::chmod(QFile::encodeName(save).constData(), 0755);

    QVERIFY(!directory);
    QCOMPARE(logMessages(model->logText()),
             (QStringList{QStringLiteral("Write permission check failed: Permission denied"),
                          QStringLiteral("Write test failed at: ") + save}));
    QCOMPARE(model->statusMessage(), QStringLiteral("No write permission for save path"));
    QCOMPARE(model->statusColor(), Color::Red);
    QVERIFY(!model->isRecovering());
    QCOMPARE(test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(test.alerts->shown[0].title, QStringLiteral("No Permission"));
    QCOMPARE(test.alerts->shown[0].message,
             QStringLiteral("Cannot write to the selected save location.\nPlease choose another folder (e.g. "
                            "Documents/External Drive) and allow access when prompted."));
    QVERIFY(QDir(save).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

void RecoveryDirectoryTest::probeThatCannotBeRemovedFailsTheWriteTest() {
    QTemporaryDir scratch;
    TestPlatform test(scratch.path());
    test.fileSystem = std::make_shared<StickyProbeFileSystem>();
    const QString save = scratch.filePath(QStringLiteral("save"));
    QVERIFY(QDir().mkpath(save));
    const Prepared prepared = prepare(test, save);
    QVERIFY(!prepared.directory);
    QCOMPARE(prepared.log,
             (QStringList{QStringLiteral("Write permission check failed: Operation not permitted"),
                          QStringLiteral("Write test failed at: ") + save}));
    QFile probe(save + QStringLiteral("/.vellorin_write_test"));
    QVERIFY(probe.open(QIODevice::ReadOnly));
    QCOMPARE(probe.readAll(), QByteArray("test"));
    QVERIFY(!QFileInfo::exists(save + QStringLiteral("/recovered_files")));
}

QTEST_MAIN(RecoveryDirectoryTest)
#include "tst_recovery_directory.moc"
