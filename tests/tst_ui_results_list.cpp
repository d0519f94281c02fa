// Finding things in the recovered-files list: kind filters with their counts, the orders and
// the search by name, over recorded entries, while files keep arriving.

#include "support/Fakes.h"
#include "support/FileMonitorProbe.h"
#include "ui/RecoveredFilesModel.h"
#include "ui/RecoveredFilesPanel.h"
#include "workflow/ResultsSorting.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

RecoveredFile file(const QString& name, qint64 size) {
    return RecoveredFile(name, u"/r/"_s + name, size, QDateTime::currentDateTimeUtc());
}

// Newest first, as the monitor lists them.
QList<RecoveredFile> recorded() {
    return {file(u"IMG_10.JPG"_s, 300),   file(u"song.mp3"_s, 5000),  file(u"IMG_2.jpg"_s, 300),
            file(u"report.pdf"_s, 800),   file(u"clip.mp4"_s, 90000), file(u"backup.zip"_s, 7000),
            file(u"img_1.png"_s, 100),    file(u"f0001.xyz"_s, 10),   file(u"Notes.txt"_s, 20),
            file(u"holiday.heic"_s, 4000)};
}

struct ListFixture {
    QTemporaryDir scratch;
    TestPlatform test{scratch.path()};
    std::shared_ptr<RecoveryViewModel> model = RecoveryViewModel::create(test.platform());
    std::shared_ptr<ResultsSorting> sorting = ResultsSorting::create(model);
    RecoveredFilesPanel panel{model, sorting};

    RecoveredFilesModel& rows() const { return *panel.model(); }
    QStringList shown() const {
        QStringList names;
        for (int row = 0; row < rows().rowCount(); ++row)
            names << rows().index(row).data().toString();
        return names;
    }
    QStringList listed() const {
        QStringList names;
        for (const RecoveredFile& each : model->recoveredFiles())
            names << each.name();
        return names;
    }
    QToolButton* kind(int index) const { return panel.kindButtons().at(index); }
    // Waits for the worker that filters and sorts.
    bool settled() const {
        QTest::qWait(0);
        return QTest::qWaitFor([&] { return !rows().isBusy(); }, 5000);
    }
};

} // namespace

class ResultsListTest : public QObject {
    Q_OBJECT

  private slots:
    void filtersOrdersAndSearchesWithoutTouchingTheList() {
        ListFixture f;
        FileMonitorProbe::apply(*f.model, recorded());
        QVERIFY(f.settled());
        const QStringList listed = f.listed();
        QCOMPARE(f.shown(), listed);
        QTRY_COMPARE(f.panel.headerLabel()->text(), u"Recovered Files (10)"_s);
        QTRY_VERIFY(!f.panel.showingLabel()->isVisibleTo(&f.panel));
        QTRY_COMPARE(f.kind(0)->text(), u"All (10)"_s);
        QStringList labels;
        for (QToolButton* button : f.panel.kindButtons()) {
            labels << button->text();
            QCOMPARE(button->accessibleName(), button->text());
        }
        QCOMPARE(labels, (QStringList{u"All (10)"_s, u"Pictures (4)"_s, u"Videos (1)"_s, u"Audio (1)"_s,
                                      u"Documents (2)"_s, u"Archives (1)"_s, u"Other (1)"_s}));

        // Pictures, newest first; then by name as people count, case aside.
        f.kind(1)->click();
        QVERIFY(f.settled());
        QCOMPARE(f.shown(),
                 (QStringList{u"IMG_10.JPG"_s, u"IMG_2.jpg"_s, u"img_1.png"_s, u"holiday.heic"_s}));
        QTRY_COMPARE(f.panel.showingLabel()->text(), u"showing 4"_s);
        QTRY_COMPARE(f.panel.headerLabel()->text(), u"Recovered Files (10)"_s);
        f.panel.orderBox()->setCurrentIndex(1);
        QVERIFY(f.settled());
        QCOMPARE(f.shown(),
                 (QStringList{u"holiday.heic"_s, u"img_1.png"_s, u"IMG_2.jpg"_s, u"IMG_10.JPG"_s}));

        // Every kind, largest first, equal sizes newest first; then grouped by kind.
        f.kind(0)->click();
        f.panel.orderBox()->setCurrentIndex(2);
        QVERIFY(f.settled());
        QCOMPARE(f.shown().mid(0, 5), (QStringList{u"clip.mp4"_s, u"backup.zip"_s, u"song.mp3"_s,
                                                   u"holiday.heic"_s, u"report.pdf"_s}));
        QCOMPARE(f.shown().mid(5, 2), (QStringList{u"IMG_10.JPG"_s, u"IMG_2.jpg"_s}));
        f.panel.orderBox()->setCurrentIndex(3);
        QVERIFY(f.settled());
        QCOMPARE(f.shown(), (QStringList{u"IMG_10.JPG"_s, u"IMG_2.jpg"_s, u"img_1.png"_s, u"holiday.heic"_s,
                                         u"clip.mp4"_s, u"song.mp3"_s, u"report.pdf"_s, u"Notes.txt"_s,
                                         u"backup.zip"_s, u"f0001.xyz"_s}));

        // The search narrows as it is typed, in any case; cleared, everything is back.
        QTest::keyClicks(f.panel.searchField(), u"im"_s);
        QVERIFY(f.settled());
        QCOMPARE(f.shown().size(), 3);
        QTest::keyClicks(f.panel.searchField(), u"G_1"_s);
        QVERIFY(f.settled());
        QCOMPARE(f.shown(), (QStringList{u"IMG_10.JPG"_s, u"img_1.png"_s}));
        QTRY_COMPARE(f.panel.showingLabel()->text(), u"showing 2"_s);
        f.panel.searchField()->clear();
        f.panel.orderBox()->setCurrentIndex(0);
        QVERIFY(f.settled());
        QCOMPARE(f.shown(), listed);
        QTRY_VERIFY(!f.panel.showingLabel()->isVisibleTo(&f.panel));
        // None of it touched the list of record.
        QCOMPARE(f.listed(), listed);
    }

    // Files that arrive while a filter is on go where the order puts them, or only into the
    // counts; a new list keeps the row that is current, and a file moved on disk keeps its row.
    void filesArrivingWhileAFilterIsOn() {
        ListFixture f;
        FileMonitorProbe::apply(*f.model, recorded());
        f.kind(1)->click();
        f.panel.orderBox()->setCurrentIndex(1);
        QVERIFY(f.settled());

        FileMonitorProbe::prepend(*f.model, file(u"IMG_3.jpg"_s, 50));
        FileMonitorProbe::prepend(*f.model, file(u"minutes.pdf"_s, 50));
        QCOMPARE(f.shown(), (QStringList{u"holiday.heic"_s, u"img_1.png"_s, u"IMG_2.jpg"_s, u"IMG_3.jpg"_s,
                                         u"IMG_10.JPG"_s}));
        QTRY_COMPARE(f.kind(0)->text(), u"All (12)"_s);
        QTRY_COMPARE(f.kind(1)->text(), u"Pictures (5)"_s);
        QTRY_COMPARE(f.kind(4)->text(), u"Documents (3)"_s);
        QTRY_COMPARE(f.panel.headerLabel()->text(), u"Recovered Files (12)"_s);
        QTRY_COMPARE(f.panel.showingLabel()->text(), u"showing 5"_s);

        // Files arriving while the worker sorts are not lost when its result lands.
        f.panel.orderBox()->setCurrentIndex(2);
        FileMonitorProbe::prepend(*f.model, file(u"IMG_4.jpg"_s, 1 << 20));
        QVERIFY(f.settled());
        QCOMPARE(f.shown().first(), u"IMG_4.jpg"_s);
        QCOMPARE(f.shown().size(), 6);

        // The monitor's next list: the current row stays on its file.
        QListView* list = f.panel.listView();
        list->setCurrentIndex(f.rows().index(f.shown().indexOf(u"IMG_2.jpg"_s)));
        QList<RecoveredFile> next = f.model->recoveredFiles();
        next.prepend(file(u"IMG_99.jpg"_s, 2 << 20));
        next.prepend(file(u"talk.mp3"_s, 10));
        FileMonitorProbe::apply(*f.model, next);
        QVERIFY(f.settled());
        QCOMPARE(f.shown().size(), 7);
        QCOMPARE(f.shown().first(), u"IMG_99.jpg"_s);
        QCOMPARE(list->currentIndex().data().toString(), u"IMG_2.jpg"_s);

        // Sorted into a folder on disk: the same row, its new name.
        f.model->relocateRecoveredFiles({{u"/r/IMG_2.jpg"_s, u"/r/Pictures/2023/2023-02-13 18.46.14.jpg"_s}});
        QVERIFY(f.settled());
        QCOMPARE(list->currentIndex().data().toString(), u"2023-02-13 18.46.14.jpg"_s);
        QCOMPARE(list->currentIndex().data(RecoveredFilesModel::PathRole).toString(),
                 u"/r/Pictures/2023/2023-02-13 18.46.14.jpg"_s);
    }

    // A batch of copies is one change per place it lands in, for the view and the screen
    // reader alike, and lands where the files would have gone one by one; the monitor's lists
    // with files new at the head, or a run of them gone, are one change each too.
    void batchesAndTicksAreOneChangeEach() {
        ListFixture f;
        FileMonitorProbe::apply(*f.model, recorded());
        QSignalSpy inserted(&f.rows(), &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&f.rows(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&f.rows(), &QAbstractItemModel::modelReset);

        FileMonitorProbe::prepend(
            *f.model,
            std::vector<RecoveredFile>{file(u"a.jpg"_s, 1), file(u"b.jpg"_s, 2), file(u"c.jpg"_s, 3)});
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(f.shown().mid(0, 4), (QStringList{u"c.jpg"_s, u"b.jpg"_s, u"a.jpg"_s, u"IMG_10.JPG"_s}));

        // By name: the batch spreads over the list, each file in its place.
        f.panel.orderBox()->setCurrentIndex(1);
        QVERIFY(f.settled());
        inserted.clear();
        FileMonitorProbe::prepend(
            *f.model, std::vector<RecoveredFile>{file(u"zeta.txt"_s, 1), file(u"IMG_3.jpg"_s, 2),
                                                 file(u"IMG_30.jpg"_s, 3), file(u"aardvark.png"_s, 4)});
        // Before everything, between IMG_2 and IMG_10, between IMG_10 and Notes, after everything.
        QCOMPARE(inserted.count(), 4);
        QStringList expected;
        for (const RecoveredFile& each : f.rows().query().run(f.model->recoveredFiles()).files)
            expected << each.name();
        QCOMPARE(f.shown(), expected);
        QCOMPARE(f.shown().size(), 17);

        // The monitor's ticks, in the default order.
        f.panel.orderBox()->setCurrentIndex(0);
        QVERIFY(f.settled());
        QListView* list = f.panel.listView();
        list->setCurrentIndex(f.rows().index(5));
        const QString current = list->currentIndex().data().toString();
        inserted.clear();
        reset.clear();
        QList<RecoveredFile> next = f.model->recoveredFiles();
        next.prepend(file(u"new1.jpg"_s, 1));
        next.prepend(file(u"new2.jpg"_s, 1));
        FileMonitorProbe::apply(*f.model, next);
        QVERIFY(f.settled());
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(reset.count(), 0);
        QCOMPARE(f.shown().mid(0, 2), (QStringList{u"new2.jpg"_s, u"new1.jpg"_s}));
        QCOMPARE(list->currentIndex().data().toString(), current);

        next.remove(4, 3); // the user removed three files the search made
        FileMonitorProbe::apply(*f.model, next);
        QVERIFY(f.settled());
        QCOMPARE(removed.count(), 1);
        QCOMPARE(f.shown().size(), next.size());
        QCOMPARE(f.listed(), f.shown());
    }

    // The controls say what they are to assistive technology, and sorting is offered only
    // once a deep search has ended.
    void controlsAreNamedAndSortingWaitsForADeepSearch() {
        ListFixture f;
        QCOMPARE(f.panel.orderBox()->accessibleName(), u"Sort by"_s);
        QCOMPARE(f.panel.searchField()->accessibleName(), u"Search by name"_s);
        QCOMPARE(f.panel.sortButton()->accessibleName(), u"Sort into Folders"_s);
        QCOMPARE(f.panel.undoButton()->accessibleName(), u"Undo Sorting"_s);
        QStringList orders;
        for (int i = 0; i < f.panel.orderBox()->count(); ++i)
            orders << f.panel.orderBox()->itemText(i);
        QCOMPARE(orders, (QStringList{u"Newest first"_s, u"Name"_s, u"Size (largest first)"_s, u"Kind"_s}));
        FileMonitorProbe::apply(*f.model, recorded());
        QVERIFY(!f.sorting->canSort() && !f.panel.sortButton()->isEnabled());
    }
};

QTEST_MAIN(ResultsListTest)
#include "tst_ui_results_list.moc"
