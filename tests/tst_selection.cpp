#include "support/DeepRun.h"
#include "support/Fakes.h"
#include "support/GatedQueues.h"
#include "workflow/ViewController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

// The real file system, except that access to the folders named in refused is not granted;
// records what access was taken and given back.
class AccessFileSystem final : public PosixFileSystem {
  public:
    bool startAccessing(const QString& path) override {
        started.append(path);
        return !refused.contains(path) && PosixFileSystem::startAccessing(path);
    }
    void stopAccessing(const QString& path) override {
        stopped.append(path);
        PosixFileSystem::stopAccessing(path);
    }
    QStringList refused;
    QStringList started;
    QStringList stopped;
};

// A view model whose recovery runs can be held back while the test looks at the state.
struct Selection {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    std::shared_ptr<AccessFileSystem> files = std::make_shared<AccessFileSystem>();
    std::shared_ptr<GatedQueues> gate = std::make_shared<GatedQueues>(test.queues);
    std::shared_ptr<RecoveryViewModel> model;

    Selection() { test.fileSystem = files; }
    RecoveryViewModel& make() {
        Platform platform = test.platform();
        platform.queues = gate;
        model = RecoveryViewModel::create(platform);
        return *model;
    }
    QString folder(const QString& name) const {
        const QString path = scratch.filePath(name);
        QDir().mkpath(path);
        return path;
    }
    FakePanels& panels() { return *test.panels; }
    QStringList log() const { return logMessages(model->logText()); }
    void settle() { vellorin::test::settle(*test.queues); }
    // The source panel opened and answered.
    void chooseSource(const std::optional<QString>& folder) {
        model->selectSourceLocation();
        panels().answer(folder);
        settle();
    }
};

const QString kOverlapMessage = QStringLiteral(
    "Save location must be outside the source path.\nPlease choose a different disk or folder to avoid "
    "overwriting.");

} // namespace

class SelectionTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void overlap_data();
    void overlap();
    void overlapThroughSymbolicLinks_data();
    void overlapThroughSymbolicLinks();
    void anOverlappingSaveLocationIsRefusedAndCanBeChosenAgain();
    void choosingASource();
    void aCancelledPanelChangesNothing();
    void startingWithoutASource();
    void startingDuringARecoveryDoesNothing();
    void theStartUsesTheSourceOfWhenThePanelOpened();
    void startLogOrder_data();
    void startLogOrder();

  private:
    QTemporaryDir links_;
};

void SelectionTest::initTestCase() {
    // source, source2 (a sibling that shares the prefix), and links into and around them.
    QVERIFY(links_.isValid());
    const QString root = links_.path();
    for (const char* name : {"source/inner", "source2", "elsewhere"})
        QVERIFY(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(name)));
    QVERIFY(QFile::link(root + QStringLiteral("/source"), root + QStringLiteral("/link")));
    QVERIFY(QFile::link(QStringLiteral("source"), root + QStringLiteral("/relative"))); // relative target
    QVERIFY(QFile::link(root, root + QStringLiteral("/up")));                           // the parent of both
    QVERIFY(QFile::link(root + QStringLiteral("/source2"), root + QStringLiteral("/link2")));
    QVERIFY(QFile::link(root + QStringLiteral("/source/inner"), root + QStringLiteral("/deep")));
}

void SelectionTest::overlap_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("save");
    QTest::addColumn<bool>("refused");
    const QString data = QStringLiteral("/Volumes/Data");
    QTest::newRow("sibling sharing a prefix") << data << QStringLiteral("/Volumes/Data2") << false;
    QTest::newRow("save inside the source") << data << QStringLiteral("/Volumes/Data/Recovered") << true;
    QTest::newRow("source inside the save") << QStringLiteral("/Volumes/Data/Photos") << data << true;
    QTest::newRow("equal") << data << data << true;
    QTest::newRow("root source") << QStringLiteral("/") << QStringLiteral("/Volumes/Other") << true;
    QTest::newRow("root both") << QStringLiteral("/") << QStringLiteral("/") << true;
    QTest::newRow("root save") << QStringLiteral("/Volumes/Data") << QStringLiteral("/") << true;
    QTest::newRow("parent components")
        << QStringLiteral("/Users/me/Out/x") << QStringLiteral("/Users/me/../me/Out") << true;
    QTest::newRow("parent components out of the source")
        << data << QStringLiteral("/Volumes/Data/../Data2") << false;
    QTest::newRow("trailing slash") << QStringLiteral("/Volumes/Data/")
                                    << QStringLiteral("/Volumes/Data/Recovered") << true;
    QTest::newRow("empty and current components") << QStringLiteral("/Volumes//Data/./x") << data << true;
    QTest::newRow("case differs") << data << QStringLiteral("/Volumes/data/Recovered") << false;
    QTest::newRow("canonically equivalent")
        << QStringLiteral("/Volumes/Caf\u00e9") << QStringLiteral("/Volumes/Cafe\u0301/Out") << true;
    QTest::newRow("home folder") << QStringLiteral("~/Pictures")
                                 << QDir::homePath() + QStringLiteral("/Pictures/Out") << true;
    QTest::newRow("unrelated") << data << QStringLiteral("/srv/Recovered") << false;
}

void SelectionTest::overlap() {
    QFETCH(QString, source);
    QFETCH(QString, save);
    QFETCH(bool, refused);
    QCOMPARE(RecoveryViewModel::locationsOverlap(source, save), refused);
}

void SelectionTest::overlapThroughSymbolicLinks_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("save");
    QTest::addColumn<bool>("refused");
    QTest::newRow("save through a link into the source")
        << QStringLiteral("source") << QStringLiteral("link/out") << true;
    QTest::newRow("save is a link to the source")
        << QStringLiteral("source") << QStringLiteral("link") << true;
    QTest::newRow("save through a relative link")
        << QStringLiteral("source") << QStringLiteral("relative/out") << true;
    QTest::newRow("save not made yet, below a link")
        << QStringLiteral("source") << QStringLiteral("link/new/deeper") << true;
    QTest::newRow("save through a link to a source folder")
        << QStringLiteral("source") << QStringLiteral("deep/out") << true;
    QTest::newRow("source through a link") << QStringLiteral("link") << QStringLiteral("source/out") << true;
    QTest::newRow("source inside the save through a link")
        << QStringLiteral("source/inner") << QStringLiteral("up/source") << true;
    QTest::newRow("link to the parent, elsewhere")
        << QStringLiteral("source") << QStringLiteral("up/elsewhere") << false;
    QTest::newRow("sibling sharing a prefix")
        << QStringLiteral("source") << QStringLiteral("source2") << false;
    QTest::newRow("link to a sibling sharing a prefix")
        << QStringLiteral("source") << QStringLiteral("link2/out") << false;
}

void SelectionTest::overlapThroughSymbolicLinks() {
    QFETCH(QString, source);
    QFETCH(QString, save);
    QFETCH(bool, refused);
    const QString root = links_.path() + QLatin1Char('/');
    QCOMPARE(RecoveryViewModel::locationsOverlap(root + source, root + save), refused);
}

void SelectionTest::anOverlappingSaveLocationIsRefusedAndCanBeChosenAgain() {
    Selection s;
    RecoveryViewModel& model = s.make();
    const QString source = s.folder(QStringLiteral("source"));
    s.chooseSource(source);
    const QStringList logBefore = s.log();
    const QString statusBefore = model.statusMessage();
    s.files->started.clear();

    model.selectSaveLocationAndStart();
    QCOMPARE(s.panels().requests.size(), std::size_t(1));
    const PanelRequest& request = s.panels().requests[0].request;
    QCOMPARE(request.title, QStringLiteral("Select Save Location (Must be different from source)"));
    QCOMPARE(request.startFolder, QDir::homePath());
    QVERIFY(request.canCreateFolders);
    s.panels().answer(s.folder(QStringLiteral("source/Recovered")));
    s.settle();

    QCOMPARE(s.test.alerts->shown.size(), std::size_t(1));
    QCOMPARE(s.test.alerts->shown[0].title, QStringLiteral("Error"));
    QCOMPARE(s.test.alerts->shown[0].message, kOverlapMessage);
    QCOMPARE(s.log(), logBefore);
    QCOMPARE(model.statusMessage(), statusBefore);
    QVERIFY(!model.isRecovering());
    QVERIFY(!model.outputScopedURL());
    QVERIFY(s.files->started.isEmpty());
    QCOMPARE(s.gate->held(), std::size_t(0));
    QVERIFY(!QFileInfo::exists(source + QStringLiteral("/Recovered/recovered_files")));

    // The user may choose again at once.
    model.selectSaveLocationAndStart();
    QCOMPARE(s.panels().requests.size(), std::size_t(1));
}

void SelectionTest::choosingASource() {
    Selection s;
    RecoveryViewModel& model = s.make();
    const QString first = s.folder(QStringLiteral("first"));
    const QString second = s.folder(QStringLiteral("second"));

    model.selectSourceLocation();
    QCOMPARE(s.panels().requests.size(), std::size_t(1));
    const PanelRequest& request = s.panels().requests[0].request;
    QCOMPARE(request.title, QStringLiteral("Select Data Source Location (Where to recover data from)"));
    QVERIFY(!request.canCreateFolders);
    QVERIFY2(QFileInfo(request.startFolder).isDir(), qPrintable(request.startFolder));

    // The line lands after the status it goes with.
    QString statusAtLine;
    QObject::connect(&model, &RecoveryViewModel::logLineAppended, &model,
                     [&] { statusAtLine = model.statusMessage(); });
    s.panels().answer(first);
    s.settle();
    QCOMPARE(model.selectedDrivePath(), std::optional<QString>(first));
    QCOMPARE(s.log(), QStringList{QStringLiteral("Selected data source: ") + first});
    QCOMPARE(model.statusMessage(), QStringLiteral("Data source selected, ready to recover"));
    QCOMPARE(statusAtLine, model.statusMessage());
    QCOMPARE(model.statusColor(), Color::Primary);
    QCOMPARE(model.sourceScopedURL(), std::optional<QString>(first));

    // Access refused: the warning first, and the selection goes on with the earlier access kept.
    s.files->refused.append(second);
    s.chooseSource(second);
    QCOMPARE(s.log(), (QStringList{QStringLiteral("Selected data source: ") + first,
                                   QStringLiteral("Warning: Failed to get access to selected source"),
                                   QStringLiteral("Selected data source: ") + second}));
    QCOMPARE(model.selectedDrivePath(), std::optional<QString>(second));
    QCOMPARE(model.sourceScopedURL(), std::optional<QString>(first));
    QCOMPARE(s.files->stopped, QStringList{first}); // the replaced access was given back first
}

void SelectionTest::aCancelledPanelChangesNothing() {
    Selection s;
    RecoveryViewModel& model = s.make();
    const QString initialStatus = model.statusMessage();
    s.chooseSource(std::nullopt);
    QVERIFY(model.logText().isEmpty());
    QVERIFY(!model.selectedDrivePath());
    QCOMPARE(model.statusMessage(), initialStatus);
    QVERIFY(s.files->started.isEmpty());

    const QString source = s.folder(QStringLiteral("source"));
    s.chooseSource(source);
    const QString log = model.logText();
    model.selectSaveLocationAndStart();
    s.panels().answer(std::nullopt);
    s.settle();
    QCOMPARE(model.logText(), log);
    QCOMPARE(model.selectedDrivePath(), std::optional<QString>(source));
    QVERIFY(!model.isRecovering());
    QVERIFY(!model.outputScopedURL());
    QCOMPARE(s.gate->held(), std::size_t(0));
}

void SelectionTest::startingWithoutASource() {
    Selection s;
    RecoveryViewModel& model = s.make();
    model.selectSaveLocationAndStart();
    s.settle();
    QVERIFY(s.panels().requests.empty());
    QCOMPARE(model.statusMessage(), QStringLiteral("Please select the data source location first"));
    QCOMPARE(model.statusColor(), Color::Red);
    QCOMPARE(s.log(), QStringList{QStringLiteral("Start aborted: no data source selected")});
    QVERIFY(!model.isRecovering());
}

void SelectionTest::startingDuringARecoveryDoesNothing() {
    Selection s;
    RecoveryViewModel& model = s.make();
    s.chooseSource(s.folder(QStringLiteral("source")));
    s.gate->close();
    model.selectSaveLocationAndStart();
    s.panels().answer(s.folder(QStringLiteral("save")));
    s.settle();
    QVERIFY(model.isRecovering());
    QCOMPARE(s.gate->held(), std::size_t(1));
    const QString log = model.logText();
    const QString status = model.statusMessage();

    model.selectSaveLocationAndStart();
    s.settle();
    QVERIFY(s.panels().requests.empty());
    QCOMPARE(model.logText(), log);
    QCOMPARE(model.statusMessage(), status);
    QCOMPARE(model.statusColor(), Color::Blue);

    RecoveryWatcher watcher(model);
    s.gate->open();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isRecovering(), 10000);
}

void SelectionTest::theStartUsesTheSourceOfWhenThePanelOpened() {
    Selection s;
    RecoveryViewModel& model = s.make();
    const QString first = s.folder(QStringLiteral("first"));
    const QString save = s.folder(QStringLiteral("save"));
    s.chooseSource(first);
    model.selectSaveLocationAndStart();
    // Another source chosen while the save panel is still open.
    model.selectSourceLocation();
    auto& open = s.panels().requests;
    std::rotate(open.begin(), open.begin() + 1, open.end()); // the source panel is answered first
    s.panels().answer(s.folder(QStringLiteral("second")));
    s.settle();

    s.files->refused.append(save);
    RecoveryWatcher watcher(model);
    s.panels().answer(save);
    QVERIFY(watcher.waitForEnd());
    const QStringList log = s.log();
    // The start emptied the lines before it, the save location's access warning included.
    QCOMPARE(log.mid(0, 2), (QStringList{QStringLiteral("Starting data recovery..."),
                                         QStringLiteral("Source path: ") + first}));
    QVERIFY2(log.filter(QStringLiteral("Warning")).isEmpty() &&
                 log.filter(QStringLiteral("Selected")).isEmpty(),
             qPrintable(log.join(QLatin1Char('\n'))));
    QCOMPARE(model.selectedDrivePath(), std::optional<QString>(s.scratch.filePath(QStringLiteral("second"))));
}

void SelectionTest::startLogOrder_data() {
    QTest::addColumn<bool>("withScript");
    QTest::addColumn<bool>("withEngine");
    QTest::addColumn<bool>("noResourceFolder");
    QTest::addColumn<bool>("recoverAllFiles");
    QTest::addColumn<QStringList>("modeLines");
    const QStringList simplified{QStringLiteral("Bundled PhotoRec not found, using simplified algorithm"),
                                 QStringLiteral("Using simplified recovery algorithm...")};
    const QStringList deep{QStringLiteral("Found bundled PhotoRec and automation script"),
                           QStringLiteral("Using bundled PhotoRec for deep recovery...")};
    QTest::newRow("deep") << true << true << false << false << deep;
    QTest::newRow("deep, every file") << true << true << false << true << deep;
    QTest::newRow("script without engine") << true << false << false << false << simplified;
    QTest::newRow("engine without script") << false << true << false << true << simplified;
    QTest::newRow("no resource folder")
        << false << false << true << false
        << QStringList{QStringLiteral("Using simplified recovery algorithm...")};
}

void SelectionTest::startLogOrder() {
    QFETCH(bool, withScript);
    QFETCH(bool, withEngine);
    QFETCH(bool, noResourceFolder);
    QFETCH(bool, recoverAllFiles);
    QFETCH(QStringList, modeLines);
    Selection s;
    if (!noResourceFolder) {
        s.test.resources = std::make_shared<FixedResources>(
            makeResourceFolder(s.scratch.path(), "echo engine ran\n", withScript, withEngine));
    }
    RecoveryViewModel& model = s.make();
    model.setRecoverAllFiles(recoverAllFiles);
    const QString source = s.folder(QStringLiteral("source"));
    const QString save = s.folder(QStringLiteral("save"));
    s.chooseSource(source);

    for (int round = 0; round < 2; ++round) {
        // The second start begins on the log of the first, which must be gone as well.
        RecoveryWatcher watcher(model);
        model.selectSaveLocationAndStart();
        s.panels().answer(save);
        QVERIFY(watcher.waitForEnd());
        const QStringList log = s.log();
        const QStringList opening =
            QStringList{QStringLiteral("Starting data recovery..."), QStringLiteral("Source path: ") + source,
                        QStringLiteral("Output path: ") + save} +
            modeLines;
        QCOMPARE(log.mid(0, opening.size()), opening);
        QCOMPARE(log.count(QStringLiteral("Starting data recovery...")), 1);
        QCOMPARE(log.contains(QStringLiteral("PhotoRec: engine ran")), withScript && withEngine);
        QVERIFY(!model.isRecovering());
    }
}

QTEST_MAIN(SelectionTest)
#include "tst_selection.moc"
