#include "support/WindowHarness.h"
#include "support/WindowShots.h"

#include "ui/ContentView.h"
#include "ui/LogPanel.h"
#include "ui/ProgressSpinner.h"
#include "ui/QuickStartSheet.h"
#include "ui/RecoveredFilesPanel.h"
#include "ui/StatusCard.h"
#include "ui/StatusLine.h"
#include "ui/StepButtonLabel.h"
#include "ui/StepsPanel.h"
#include "ui/Theme.h"
#include "workflow/ViewController.h"

#include "ui/HeaderSection.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

using namespace vellorin;
using namespace vellorin::test;

namespace {

QColor colorOf(const QWidget* widget) {
    return widget->palette().color(QPalette::Active, QPalette::WindowText);
}

QRect inView(const ContentView& view, const QWidget* widget) {
    return QRect(widget->mapTo(&view, QPoint()), widget->size());
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> harness;
    std::unique_ptr<ContentView> view;

    void open(bool seenOnboarding = true) {
        harness = std::make_unique<WindowHarness>();
        harness->services.settings->seen = seenOnboarding;
        view = std::make_unique<ContentView>(harness->platform());
        view->resize(1100, 750);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }

    void finishRun() {
        harness->gate->open();
        QTRY_VERIFY_WITH_TIMEOUT(!view->viewModel()->isRecovering(), 10000);
        QTRY_COMPARE(harness->services.alerts->shown.size(), std::size_t(1));
    }

  private slots:
    void cleanup() {
        if (harness)
            harness->gate->open();
        view.reset();
        if (harness)
            settle(*harness->services.queues);
        harness.reset();
    }

    void firstLaunchPresentsTheSheetOverTheWindow() {
        open(false);
        QTRY_VERIFY(view->quickStartSheet() && view->quickStartSheet()->isVisible());
        QuickStartSheet* sheet = view->quickStartSheet();
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), view->window());
        QVERIFY(sheet->width() >= 520);
        QVERIFY(sheet->gotItButton()->isDefault());
        // The sheet is as tall as its content at its width: no empty band above the title or
        // between the rows.
        QCOMPARE(sheet->height(), sheet->layout()->totalHeightForWidth(sheet->width()));
        QCOMPARE(sheet->titleLabel()->geometry().top(), 24);
        QCOMPARE(sheet->titleLabel()->geometry().left(), 24);
        const QList<QWidget*> steps = sheet->instructions();
        QCOMPARE(steps.size(), 4);
        QCOMPARE(steps.first()->geometry().top() - sheet->titleLabel()->geometry().bottom() - 1, 20);
        for (int i = 1; i < steps.size(); ++i)
            QCOMPARE(steps[i]->geometry().top() - steps[i - 1]->geometry().bottom() - 1, 12);
        QCOMPARE(sheet->gotItButton()->geometry().top() - steps.last()->geometry().bottom() - 1, 20);
        QCOMPARE(sheet->height() - sheet->gotItButton()->geometry().bottom() - 1, 24);
        QCOMPARE(sheet->width() - sheet->gotItButton()->geometry().right() - 1, 24);
        QStringList texts;
        for (QLabel* label : sheet->findChildren<QLabel*>())
            texts << label->text();
        QCOMPARE(texts.first(), QStringLiteral("Quick Start"));
        QVERIFY(texts.contains(
            QStringLiteral("Step 1: Pick the source (disk/folder that holds the lost data).")));
        QVERIFY(texts.contains(
            QStringLiteral("PhotoRec will create a recovered_files folder in the save path and "
                           "needs write permission.")));
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("first-launch-sheet")));
    }

    void idleWindowHasTheColumnAndTheInitialTexts() {
        open();
        QVERIFY(!view->quickStartSheet());
        // The column is 900 wide with 100 of gradient either side, and fills the height.
        QCOMPARE(view->column()->geometry(), QRect(100, 0, 900, 750));
        QCOMPARE(view->column()->layout()->contentsMargins(), QMargins(24, 24, 24, 24));
        QCOMPARE(inView(*view, view->header()).topLeft(), QPoint(124, 24));
        // Element order, top to bottom.
        const QList<QWidget*> order{view->header(), view->sourceCard(), view->stepsPanel(),
                                    view->statusLine(), view->recoveredFilesPanel()};
        for (int i = 1; i < order.size(); ++i)
            QVERIFY2(inView(*view, order[i]).top() >= inView(*view, order[i - 1]).bottom() + 18,
                     qPrintable(QString::number(i)));
        // The three cards share the row equally.
        QCOMPARE(view->sourceCard()->width(), view->recoveredCard()->width());
        QCOMPARE(view->recoveredCard()->width(), view->scannedCard()->width());
        QCOMPARE(inView(*view, view->scannedCard()).right(), 1100 - 100 - 24 - 1);

        QCOMPARE(view->sourceCard()->value(), QStringLiteral("Not selected"));
        QCOMPARE(view->recoveredCard()->value(), QStringLiteral("0"));
        QCOMPARE(view->scannedCard()->value(), QStringLiteral("0"));
        StepsPanel* steps = view->stepsPanel();
        QCOMPARE(steps->sourceLabel()->title(), QStringLiteral("Select Data Source"));
        QCOMPARE(steps->sourceLabel()->subtitle(), QStringLiteral("Choose a volume or folder"));
        QCOMPARE(steps->startLabel()->title(), QStringLiteral("Select Save Location & Start"));
        QCOMPARE(steps->startLabel()->subtitle(), QStringLiteral("Must be different from source"));
        QVERIFY(steps->sourceButton()->isEnabled());
        QVERIFY(!steps->startButton()->isEnabled());
        QVERIFY(steps->recoverAllFilesToggle()->isEnabled());
        QVERIFY(steps->showLogsToggle()->isEnabled());
        QVERIFY(!steps->showLogsToggle()->isChecked());
        QCOMPARE(view->statusLine()->messageLabel()->text(),
                 QStringLiteral("Please select the data source location (where to recover data from)"));
        QCOMPARE(colorOf(view->statusLine()->messageLabel()), theme::primaryText());
        QVERIFY(!view->statusLine()->spinner()->isVisible());
        RecoveredFilesPanel* files = view->recoveredFilesPanel();
        QVERIFY(files->isVisible());
        QVERIFY(!view->logPanel()->isVisible());
        QCOMPARE(files->headerLabel()->text(), QStringLiteral("Recovered Files (0)"));
        QVERIFY(!files->scanningLabel()->isVisible());
        QVERIFY(files->emptyLabel()->isVisible());
        QVERIFY(!files->listView()->isVisible());

        // The gradient runs from the lighter top-left corner to the darker bottom-right one,
        // also outside the column.
        const QImage shot = captureWindow(view.get());
        const QColor topLeft = shot.pixelColor(2, 2);
        const QColor bottomRight = shot.pixelColor(1097, 747);
        QVERIFY(qAbs(topLeft.red() - 25) <= 2 && qAbs(topLeft.blue() - 46) <= 2);
        QVERIFY(qAbs(bottomRight.red() - 15) <= 2 && qAbs(bottomRight.blue() - 31) <= 2);
        QVERIFY(shot.save(screenshotPath(QStringLiteral("idle"))));
    }

    void columnFollowsTheWindowWidth() {
        open();
        view->resize(700, 750);
        QCOMPARE(view->column()->geometry(), QRect(0, 0, 700, 750));
        view->resize(1600, 900);
        QCOMPARE(view->column()->geometry(), QRect(350, 0, 900, 900));
        view->resize(901, 750);
        QCOMPARE(view->column()->geometry().width(), 900);
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("idle-wide")));
        view->resize(view->minimumSizeHint().width(), 750);
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("idle-narrowest")));
    }

    void choosingASourceShowsItAndEnablesTheStart() {
        open();
        const QString source =
            harness->folder(QStringLiteral("a-rather-long-folder-name-for-the-data-source/with/several/"
                                           "levels/below/it/to/make/the/path/long"));
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(), source);
        QTRY_COMPARE(view->sourceCard()->value(), source);
        // The card keeps one line and cuts the path; the button shows it whole, wrapped.
        QVERIFY(view->sourceCard()->displayedValue().endsWith(QChar(0x2026)));
        QCOMPARE(view->stepsPanel()->sourceLabel()->title(), QStringLiteral("Selected"));
        QCOMPARE(view->stepsPanel()->sourceLabel()->subtitle(), source);
        QCOMPARE(view->stepsPanel()->sourceButton()->accessibleDescription(), source);
        QVERIFY(view->stepsPanel()->sourceButton()->isEnabled());
        QVERIFY(view->stepsPanel()->startButton()->isEnabled());
        QCOMPARE(view->statusLine()->messageLabel()->text(),
                 QStringLiteral("Data source selected, ready to recover"));
        QCOMPARE(view->column()->width(), 900);
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("source-chosen")));
    }

    void runningRecoveryDisablesTheControlsAndSpins() {
        open();
        harness->writeFile(QStringLiteral("source/photo.jpg"), "jpeg");
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        harness->gate->close();
        harness->clickAndAnswer(view->stepsPanel()->startButton(), harness->folder(QStringLiteral("save")));
        QTRY_VERIFY(view->viewModel()->isRecovering());
        StepsPanel* steps = view->stepsPanel();
        QVERIFY(!steps->sourceButton()->isEnabled());
        QVERIFY(!steps->startButton()->isEnabled());
        QVERIFY(!steps->recoverAllFilesToggle()->isEnabled());
        QVERIFY(!steps->showLogsToggle()->isEnabled());
        StatusLine* status = view->statusLine();
        QVERIFY(status->spinner()->isVisible());
        QVERIFY(status->spinner()->x() < status->messageLabel()->x());
        QCOMPARE(status->messageLabel()->text(), QStringLiteral("Recovering data, please wait..."));
        QCOMPARE(colorOf(status->messageLabel()), theme::statusColor(RecoveryViewModel::StatusColor::Blue));
        QVERIFY(view->recoveredFilesPanel()->scanningLabel()->isVisible());
        QCOMPARE(view->recoveredFilesPanel()->headerLabel()->text(), QStringLiteral("Recovered Files (0)"));
        // A click on a disabled button reaches nothing.
        QTest::mouseClick(steps->sourceButton(), Qt::LeftButton);
        QVERIFY(harness->services.panels->requests.empty());
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("recovery-running")));
        finishRun();
        QVERIFY(!status->spinner()->isVisible());
        QVERIFY(steps->showLogsToggle()->isEnabled());
    }

    void finishedRecoveryListsTheFiles() {
        open();
        harness->writeFile(QStringLiteral("source/holiday/beach.jpg"), QByteArray(2500, 'j'));
        harness->writeFile(QStringLiteral("source/notes.txt"), "seven b");
        harness->writeFile(QStringLiteral("source/song.mp3"), QByteArray(1'500'000, 'm'));
        harness->writeFile(QStringLiteral("source/skipped.xyz"), "not listed");
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        harness->clickAndAnswer(view->stepsPanel()->startButton(), harness->folder(QStringLiteral("save")));
        finishRun();
        RecoveredFilesPanel* files = view->recoveredFilesPanel();
        QCOMPARE(files->headerLabel()->text(), QStringLiteral("Recovered Files (3)"));
        QVERIFY(!files->scanningLabel()->isVisible());
        QVERIFY(!files->emptyLabel()->isVisible());
        QVERIFY(files->listView()->isVisible());
        QVERIFY(files->listView()->height() >= 240);
        QCOMPARE(view->recoveredCard()->value(), QStringLiteral("3"));
        QCOMPARE(view->scannedCard()->value(), QString::number(view->viewModel()->scannedCount()));
        QCOMPARE(view->statusLine()->messageLabel()->text(), QStringLiteral("Recovery Completed!"));
        QCOMPARE(colorOf(view->statusLine()->messageLabel()), theme::green());
        // Rows in the list's order, each with its size.
        const auto& recovered = view->viewModel()->recoveredFiles();
        QAbstractItemModel* model = files->listView()->model();
        QCOMPARE(model->rowCount(), 3);
        QStringList sizes;
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(model->index(row, 0).data().toString(), recovered.at(row).name());
            sizes << model->index(row, 0).data(Qt::AccessibleTextRole).toString();
        }
        sizes.sort();
        QCOMPARE(sizes, (QStringList{QStringLiteral("beach.jpg, 3 KB"), QStringLiteral("notes.txt, 7 bytes"),
                                     QStringLiteral("song.mp3, 1.5 MB")}));
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("finished-with-list")));
    }

    void logOfARunUnderTheListIsShownWhole() {
        // While the list is shown the log panel draws nothing; switched on afterwards it
        // starts at the top and catches up with every line.
        open();
        for (int i = 0; i < 40; ++i)
            harness->writeFile(QStringLiteral("source/photo%1.jpg").arg(i), "jpg");
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        harness->clickAndAnswer(view->stepsPanel()->startButton(), harness->folder(QStringLiteral("save")));
        finishRun();
        QVERIFY(view->logPanel()->isCaughtUp());
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        QPlainTextEdit* text = view->logPanel()->textView();
        QTRY_VERIFY(view->logPanel()->isCaughtUp());
        QCOMPARE(text->toPlainText(), view->viewModel()->logText());
        QCOMPARE(text->verticalScrollBar()->value(), 0);
    }

    void logPanelShowsTheLogInPlaceOfTheList() {
        open();
        // Before any recovery: the placeholder, in the log's own font.
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        QVERIFY(view->showLog());
        QVERIFY(view->logPanel()->isVisible());
        QVERIFY(!view->recoveredFilesPanel()->isVisible());
        QPlainTextEdit* text = view->logPanel()->textView();
        QCOMPARE(text->placeholderText(), QStringLiteral("Logs will appear here when recovery starts."));
        QVERIFY(text->toPlainText().isEmpty());
        QCOMPARE(text->font().family(), theme::footnoteMonospaced().family());
        QVERIFY(view->logPanel()->height() >= 240);
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("log-panel-empty")));

        for (int i = 0; i < 30; ++i)
            harness->writeFile(QStringLiteral("source/folder%1/picture%1.png").arg(i), "png");
        harness->clickAndAnswer(view->stepsPanel()->sourceButton(),
                                harness->folder(QStringLiteral("source")));
        harness->clickAndAnswer(view->stepsPanel()->startButton(), harness->folder(QStringLiteral("save")));
        finishRun();
        view->logPanel()->flushPending();
        QCOMPARE(text->toPlainText(), view->viewModel()->logText());
        QVERIFY(view->logPanel()->isVisible());
        QTRY_VERIFY(!view->logPanel()->isScrollAnimating());
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
        QVERIFY(saveScreenshot(view.get(), QStringLiteral("log-panel")));

        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        QVERIFY(!view->showLog());
        QVERIFY(view->recoveredFilesPanel()->isVisible());
        QVERIFY(!view->logPanel()->isVisible());
    }
};

QTEST_MAIN(LayoutTest)
#include "tst_ui_layout.moc"
