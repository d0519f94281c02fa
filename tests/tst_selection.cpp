// Choosing the source and the save location, the rule that keeps them apart, and the start
// that follows.

#include "support/Fakes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

struct Selection : Scratch {
    QString folder(const QString& name) const {
        QDir().mkpath(dir.filePath(name));
        return dir.filePath(name);
    }
    void settle() { vellorin::test::settle(*test.queues); }
    void chooseSource(const std::optional<QString>& folder) {
        model->selectSourceLocation();
        test.panels->answer(folder);
        settle();
    }
};

} // namespace

class SelectionTest : public QObject {
    Q_OBJECT
    QTemporaryDir links_;

  private slots:

    void overlap_data() {
        // Below the links folder: source, source2 (a sibling sharing the prefix) and elsewhere,
        // with links into and around them. "@" stands for that folder.
        const QString root = links_.path();
        for (const char* name : {"source/inner", "source2", "elsewhere"})
            QVERIFY(QDir().mkpath(root + u'/' + QLatin1String(name)));
        QVERIFY(QFile::link(root + u"/source"_s, root + u"/link"_s));
        QVERIFY(QFile::link(u"source"_s, root + u"/relative"_s));
        QVERIFY(QFile::link(root, root + u"/up"_s));
        QVERIFY(QFile::link(root + u"/source2"_s, root + u"/link2"_s));
        QVERIFY(QFile::link(root + u"/source/inner"_s, root + u"/deep"_s));

        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("save");
        QTest::addColumn<bool>("refused");
        const auto row = [](const char* name, const QString& source, const QString& save, bool refused) {
            QTest::newRow(name) << source << save << refused;
        };
        const QString data = u"/Volumes/Data"_s;
        row("sibling sharing a prefix", data, u"/Volumes/Data2"_s, false);
        row("save inside the source", data, u"/Volumes/Data/Recovered"_s, true);
        row("source inside the save", u"/Volumes/Data/Photos"_s, data, true);
        row("equal", data, data, true);
        row("root source", u"/"_s, u"/Volumes/Other"_s, true);
        row("parent components", u"/Users/me/Out/x"_s, u"/Users/me/../me/Out"_s, true);
        row("parent components out of the source", data, u"/Volumes/Data/../Data2"_s, false);
        row("case differs", data, u"/Volumes/data/Recovered"_s, false);
        row("canonically equivalent", u"/Volumes/Caf\u00e9"_s, u"/Volumes/Cafe\u0301/Out"_s, true);
        row("home folder", u"~/Pictures"_s, QDir::homePath() + u"/Pictures/Out"_s, true);
        row("save through a link into the source", u"@source"_s, u"@link/out"_s, true);
        row("save through a relative link", u"@source"_s, u"@relative/out"_s, true);
        row("save through a link to a source folder", u"@source"_s, u"@deep/out"_s, true);
        row("save not made yet, below a link", u"@source"_s, u"@link/new/deeper"_s, true);
        row("source inside the save through a link", u"@source/inner"_s, u"@up/source"_s, true);
        row("link to the parent, elsewhere", u"@source"_s, u"@up/elsewhere"_s, false);
        row("link to a sibling sharing a prefix", u"@source"_s, u"@link2/out"_s, false);
    }

    void overlap() {
        QFETCH(QString, source);
        QFETCH(QString, save);
        QFETCH(bool, refused);
        const QString root = links_.path() + u'/';
        QCOMPARE(RecoveryViewModel::locationsOverlap(source.replace(u'@', root), save.replace(u'@', root)),
                 refused);
    }

    void theSavePanelRefusesAnOverlapAndMayBeCancelled() {
        Selection s;
        const QString source = s.folder(u"source"_s);
        s.chooseSource(source);
        const QString logBefore = s.model->logText();
        const QString statusBefore = s.model->statusMessage();
        s.model->selectSaveLocationAndStart();
        const PanelRequest request = s.test.panels->requests.at(0).request;
        QCOMPARE(request.title, u"Select Save Location (Must be different from source)"_s);
        QVERIFY(request.startFolder == QDir::homePath() && request.canCreateFolders);
        s.test.panels->answer(s.folder(u"source/Recovered"_s));
        s.settle();
        QCOMPARE(s.test.alerts->only(),
                 (QStringList{u"Error"_s,
                              u"Save location must be outside the source path.\nPlease choose a "
                              "different disk or folder to avoid overwriting."_s,
                              u"OK"_s}));
        // Nothing else happened, and the user may choose again at once, or cancel.
        s.model->selectSaveLocationAndStart();
        s.test.panels->answer(std::nullopt);
        s.settle();
        QCOMPARE(s.model->logText(), logBefore);
        QCOMPARE(s.model->statusMessage(), statusBefore);
        QVERIFY(!s.model->isRecovering() && !s.model->outputScopedURL() && s.test.gate->held.empty());
        QVERIFY(!QFileInfo::exists(source + u"/Recovered/recovered_files"_s));
    }

    void theSourcePanel() {
        Selection s;
        QCOMPARE(s.model->statusMessage(),
                 u"Please select the data source location (where to recover data from)"_s);
        s.chooseSource(std::nullopt); // cancelled: no line, no change
        QVERIFY(s.model->logText().isEmpty() && !s.model->selectedDrivePath());
        QCOMPARE(s.model->statusColor(), Color::Primary);

        const QString first = s.folder(u"first"_s);
        s.model->selectSourceLocation();
        const PanelRequest request = s.test.panels->requests.at(0).request;
        QCOMPARE(request.title, u"Select Data Source Location (Where to recover data from)"_s);
        QVERIFY2(!request.canCreateFolders && QFileInfo(request.startFolder).isDir(),
                 qPrintable(request.startFolder));
        // The line lands after the status it goes with.
        QString statusAtLine;
        QObject::connect(s.model.get(), &RecoveryViewModel::logLineAppended, s.model.get(),
                         [&] { statusAtLine = s.model->statusMessage(); });
        s.test.panels->answer(first);
        s.settle();
        QCOMPARE(s.model->selectedDrivePath(), std::optional<QString>(first));
        QCOMPARE(s.log(), QStringList{u"Selected data source: "_s + first});
        QCOMPARE(statusAtLine, u"Data source selected, ready to recover"_s);
        QCOMPARE(s.model->statusMessage(), statusAtLine);

        // A folder that cannot be entered: the warning first, and the selection still goes on.
        const QString gone = s.dir.filePath(u"gone"_s);
        s.chooseSource(gone);
        QCOMPARE(s.log().mid(1), (QStringList{u"Warning: Failed to get access to selected source"_s,
                                              u"Selected data source: "_s + gone}));
    }

    void startingWithoutASourceOrDuringARecovery() {
        Selection s;
        s.model->selectSaveLocationAndStart();
        s.settle();
        QVERIFY(s.test.panels->requests.empty());
        QCOMPARE(s.model->statusMessage(), u"Please select the data source location first"_s);
        QCOMPARE(s.model->statusColor(), Color::Red);
        QCOMPARE(s.log(), QStringList{u"Start aborted: no data source selected"_s});

        s.chooseSource(s.folder(u"source"_s));
        s.test.gate->closed = true;
        s.model->selectSaveLocationAndStart();
        s.model->selectSaveLocationAndStart(); // the panel is not modal: a second one opens
        s.test.panels->answer(s.folder(u"save"_s));
        s.settle();
        QVERIFY(s.model->isRecovering());
        QCOMPARE(s.model->statusColor(), Color::Blue);
        const QString log = s.model->logText();
        s.model->selectSaveLocationAndStart();
        s.test.panels->answer(s.folder(u"other"_s)); // answered during the run: nothing happens
        s.settle();
        QVERIFY(s.test.panels->requests.empty());
        QCOMPARE(s.model->logText(), log);
        QVERIFY(!QFileInfo::exists(s.dir.filePath(u"other/recovered_files"_s)));
        QCOMPARE(s.test.gate->held.size(), std::size_t(1));
        s.test.gate->open();
        QTRY_VERIFY_WITH_TIMEOUT(!s.model->isRecovering(), 10000);
    }

    void theStartUsesTheSourceOfWhenThePanelOpened() {
        Selection s;
        // A resource folder with a script and no engine: the simplified recovery, and it says why.
        s.test.resources =
            std::make_shared<FixedResources>(makeResourceFolder(s.dir.path(), "exit 0\n", false));
        s.remake();
        const QString first = s.folder(u"first"_s);
        s.chooseSource(first);
        s.model->selectSaveLocationAndStart();
        // Another source is chosen while the save panel is still open.
        s.model->selectSourceLocation();
        auto& open = s.test.panels->requests;
        std::rotate(open.begin(), open.begin() + 1, open.end());
        s.test.panels->answer(s.folder(u"second"_s));
        s.settle();
        // A save location not made yet cannot be accessed: its warning comes before the start.
        RecoveryWatcher watcher(*s.model);
        const QString save = s.dir.filePath(u"new/save"_s);
        s.test.panels->answer(save);
        QVERIFY(watcher.waitForEnd());
        // The start emptied the lines before it, the warning included.
        QCOMPARE(s.log().mid(0, 5), (QStringList{u"Starting data recovery..."_s, u"Source path: "_s + first,
                                                 u"Output path: "_s + save,
                                                 u"Bundled PhotoRec not found, using simplified algorithm"_s,
                                                 u"Using simplified recovery algorithm..."_s}));
        QVERIFY2(s.log().filter(u"Warning"_s).isEmpty() && s.log().filter(u"Selected"_s).isEmpty(),
                 qPrintable(s.log().join(u'\n')));
        QCOMPARE(s.model->selectedDrivePath(), std::optional<QString>(s.dir.filePath(u"second"_s)));
    }
};

QTEST_MAIN(SelectionTest)
#include "tst_selection.moc"
