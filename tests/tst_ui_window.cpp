// The window as a user, the keyboard and assistive technology meet it: launched as main()
// does, through a recovery, with its log. Writes the screenshots the README shows.

#include "support/Fakes.h"

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/UserSettings.h"
#include "ui/ContentView.h"
#include "ui/DiskPickerDialog.h"
#include "ui/LogPanel.h"
#include "ui/LogView.h"
#include "ui/PanelSurface.h"
#include "ui/ProgressSpinner.h"
#include "ui/QuickStartSheet.h"
#include "ui/RecoveredFilesPanel.h"
#include "ui/StatusCard.h"
#include "ui/StatusLine.h"
#include "ui/StepButtonLabel.h"
#include "ui/StepsPanel.h"
#include "ui/Theme.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

using namespace vellorin;
using namespace vellorin::test;

namespace {

// Below the build folder, where a person can look at it.
void saveScreenshot(QWidget* window, const QString& name) {
    const QString folder =
        qEnvironmentVariable("VELLORIN_BUILD_DIR", QDir::currentPath()) + u"/screenshots"_s;
    QVERIFY(QDir().mkpath(folder) && window->grab().save(folder + u'/' + name + u".png"_s));
}

QString accessibleName(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<TestPlatform> services;
    std::unique_ptr<ContentView> view;

    void open() {
        services->settings->seen = true;
        view = std::make_unique<ContentView>(services->platform());
        view->resize(1100, 750);
        view->show();
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
    }
    // A user's click on the button's middle, then the panel answered with a folder.
    void clickAndAnswer(QPushButton* button, const QString& name) {
        QTRY_VERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QTRY_VERIFY(!services->panels->requests.empty());
        QDir().mkpath(scratch->filePath(name));
        services->panels->answer(scratch->filePath(name));
    }
    // Files of the given sizes in the source, chosen; then the start, its run held until finishRun().
    void recover(const QStringList& files, const QList<int>& sizes) {
        for (qsizetype i = 0; i < files.size(); ++i)
            writeFile(scratch->filePath(u"source/"_s + files[i]), QByteArray(sizes[i], 'x'));
        clickAndAnswer(view->stepsPanel()->sourceButton(), u"source"_s);
        services->gate->closed = true;
        clickAndAnswer(view->stepsPanel()->startButton(), u"save"_s);
    }
    void finishRun() {
        services->gate->open();
        QTRY_VERIFY_WITH_TIMEOUT(!view->viewModel()->isRecovering(), 10000);
        QTRY_COMPARE(services->alerts->shown.size(), std::size_t(1));
    }
    // Tab pressed until the focus comes back round: the controls in the order reached.
    QList<QWidget*> tabCycle() {
        QWidget* start = QApplication::focusWidget();
        QList<QWidget*> visited;
        while (visited.size() < 20 && (visited.isEmpty() || visited.last() != start)) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget();
        }
        return visited;
    }

  private slots:
    void init() {
        scratch = std::make_unique<QTemporaryDir>();
        services = std::make_unique<TestPlatform>(scratch->path());
    }
    void cleanup() {
        services->gate->open();
        view.reset();
        settle(*services->queues);
    }

    void theQuickStartSheetShowsOnTheFirstLaunchOnly() {
        const QString settingsFile = scratch->filePath(u"config/Vellorin/Vellorin.conf"_s);
        std::unique_ptr<MainWindow> window;
        std::unique_ptr<AppDelegate> delegate;
        const auto launch = [&] {
            window = std::make_unique<MainWindow>();
            delegate = std::make_unique<AppDelegate>([&] {
                Platform platform = services->platform();
                platform.settings = std::make_shared<UserSettings>(settingsFile);
                return platform;
            });
            delegate->attach(*qApp);
            QTRY_VERIFY(window->centralWidget());
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        };
        const auto content = [&] { return dynamic_cast<ContentView*>(window->centralWidget()); };
        launch();
        QCOMPARE(window->windowTitle(), u"Vellorin - Data Recovery"_s);
        QCOMPARE(content()->size(), QSize(1100, 750));
        QTRY_VERIFY(content()->quickStartSheet() && content()->quickStartSheet()->isVisible());
        QuickStartSheet* sheet = content()->quickStartSheet();
        QCOMPARE(QApplication::activeModalWidget(), sheet);
        QCOMPARE(accessibleName(sheet), u"Quick Start"_s);
        QCOMPARE(accessibleName(sheet->gotItButton()), u"Got it"_s);
        QStringList texts;
        for (QLabel* label : sheet->findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(u"Step 1: Pick the source (disk/folder that holds the lost data)."_s));
        // Shown is not seen: only the dismissal writes it.
        QVERIFY(!QSettings(settingsFile, QSettings::IniFormat).contains(u"hasSeenOnboarding"_s));
        QTest::mouseClick(sheet->gotItButton(), Qt::LeftButton);
        QTRY_COMPARE(QApplication::activeModalWidget(), nullptr);
        window.reset(), delegate.reset();
        QVERIFY(QSettings(settingsFile, QSettings::IniFormat).value(u"hasSeenOnboarding"_s).toBool());
        launch();
        QTest::qWait(100); // the sheet would come one turn of the event loop after the window
        QVERIFY(!content()->quickStartSheet());
        window.reset(), delegate.reset();
    }

    void aDiskChosenFromTheList() {
        auto devices = std::make_shared<RecordedBlockDevices>(u"machine"_s);
        services->blockDevices = devices;
        services->resources =
            std::make_shared<FixedResources>(makeResourceFolder(scratch->path(), "exit 0\n"));
        open();
        StepsPanel* steps = view->stepsPanel();
        QCOMPARE(accessibleName(steps->diskButton()), u"Select Disk or Image"_s);
        // The engine is there, so a start searches: what for and where can be chosen.
        QVERIFY(steps->scanOptionsRow()->isVisible());
        // On Linux a combo box is named by the label it is the buddy of.
        for (QComboBox* choice : {steps->lookForChoice(), steps->whereChoice()}) {
            const auto labels = QAccessible::queryAccessibleInterface(choice)->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.first().first->text(QAccessible::Name), choice->accessibleName());
        }
        QTest::mouseClick(steps->diskButton(), Qt::LeftButton);
        QTRY_VERIFY(steps->diskPicker() && steps->diskPicker()->isVisible());
        DiskPickerDialog* dialog = steps->diskPicker();
        QCOMPARE(dialog->windowTitle(), u"Select Disk or Image"_s);
        // Each row is named with what a sighted user reads in it; the system disk comes last.
        const auto spoken = [](QTreeWidgetItem* item) {
            return item->data(0, Qt::AccessibleTextRole).toString();
        };
        QTreeWidget* list = dialog->list();
        QTRY_COMPARE(list->topLevelItemCount(), 6);
        QTreeWidgetItem* stick = list->topLevelItem(1);
        QCOMPARE(spoken(stick), u"SanDisk Ultra, 30.77 GB, USB, removable"_s);
        QCOMPARE(spoken(stick->child(0)), u"Partition 1, CARD, vfat, 30.76 GB, mounted at /media/ada/CARD"_s);
        QCOMPARE(spoken(list->topLevelItem(5)), u"Samsung SSD 980 1TB, 1 TB, NVMe, System disk"_s);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
        QStringList cells;
        for (int i = 0; i < table->childCount(); ++i)
            cells << table->child(i)->text(QAccessible::Name);
        QVERIFY2(cells.contains(spoken(stick)), qPrintable(cells.join(u" | "_s)));
        QVERIFY(!dialog->chooseButton()->isEnabled());

        // A stick pulled out and another plugged in while the partition is selected.
        list->setCurrentItem(stick->child(0));
        devices->json = RecordedBlockDevices(u"replugged"_s).json;
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItem(1)->text(0), u"Verbatim STORE N GO"_s,
                                  DiskPickerDialog::kRefreshIntervalMs * 3);
        QCOMPARE(list->selectedItems().value(0)->text(3), u"/dev/sdb1"_s);
        saveScreenshot(dialog, u"disk-picker"_s);
        QTest::mouseClick(dialog->chooseButton(), Qt::LeftButton);
        QTRY_VERIFY(!steps->diskPicker());

        // Chosen as a folder is: the same line, status and card, with the disk's name beside.
        QCOMPARE(logMessages(view->viewModel()->logText()),
                 QStringList{u"Selected data source: /dev/sdb1"_s});
        QCOMPARE(view->statusLine()->messageLabel()->text(), u"Data source selected, ready to recover"_s);
        QCOMPARE(view->sourceCard()->value(), u"/dev/sdb1"_s);
        QCOMPARE(view->sourceCard()->detail(), u"SanDisk Ultra, partition 1 (CARD)"_s);
        QCOMPARE(steps->sourceLabel()->subtitle(), u"SanDisk Ultra, partition 1 (CARD) \u2014 /dev/sdb1"_s);
        steps->lookForChoice()->setCurrentText(u"Pictures"_s);
        emit steps->lookForChoice()->activated(steps->lookForChoice()->currentIndex());
        QCOMPARE(view->viewModel()->scanOptions().families, QList<FileFamily>{FileFamily::Pictures});
        QCOMPARE(services->settings->texts.value(u"scanFamilies"_s), u"pictures"_s);
        // Names first is on until switched off, and stays off for later launches.
        QCheckBox* names = steps->namesFirstChoice();
        QCOMPARE(accessibleName(names), u"Names first"_s);
        QVERIFY(names->isChecked() && view->viewModel()->scanOptions().namesFirst);
        QTest::mouseClick(names, Qt::LeftButton);
        QVERIFY(!view->viewModel()->scanOptions().namesFirst);
        QCOMPARE(view->viewModel()->scanOptions().families, QList<FileFamily>{FileFamily::Pictures});
        QCOMPARE(services->settings->texts.value(u"scanNamesFirst"_s), u"off"_s);
        saveScreenshot(view.get(), u"disk-chosen"_s);

        // An image file instead, through the file panel.
        QTest::mouseClick(steps->diskButton(), Qt::LeftButton);
        QTRY_VERIFY(steps->diskPicker());
        QTest::mouseClick(steps->diskPicker()->imageButton(), Qt::LeftButton);
        QCOMPARE(services->panels->requests.size(), std::size_t(1));
        QVERIFY(services->panels->requests.at(0).request.nameFilters.value(0).contains(u"*.img"_s));
        const QString image = scratch->filePath(u"card.img"_s);
        writeFile(image, QByteArray(512, '\0'));
        services->panels->answer(image);
        QTRY_VERIFY(!steps->diskPicker());
        QTRY_COMPARE(view->sourceCard()->value(), image);
        QVERIFY(view->sourceCard()->detail().isEmpty());
    }

    void aRecoveryThroughTheWindow() {
        open();
        StepsPanel* steps = view->stepsPanel();
        const QList<QWidget*> controls{steps->sourceButton(), steps->diskButton(), steps->startButton(),
                                       steps->recoverAllFilesToggle(), steps->showLogsToggle()};
        QCOMPARE(view->sourceCard()->value(), u"Not selected"_s);
        QCOMPARE((QStringList{steps->sourceLabel()->title(), steps->sourceLabel()->subtitle(),
                              steps->startLabel()->title(), steps->startLabel()->subtitle()}),
                 (QStringList{u"Select Data Source"_s, u"Choose a volume or folder"_s,
                              u"Select Save Location & Start"_s, u"Must be different from source"_s}));
        QCOMPARE(view->recoveredFilesPanel()->headerLabel()->text(), u"Recovered Files (0)"_s);
        // Every control is named after its text; before a source is chosen, the disabled start
        // button is passed over.
        for (QWidget* control : controls) {
            auto* check = qobject_cast<QCheckBox*>(control);
            QCOMPARE(accessibleName(control),
                     check ? check->text() : control->findChild<StepButtonLabel*>()->title());
        }
        steps->sourceButton()->setFocus(Qt::TabFocusReason);
        QCOMPARE(tabCycle(),
                 (QList<QWidget*>{steps->diskButton()} + controls.mid(3) << steps->sourceButton()));

        recover({u"holiday/beach.jpg"_s, u"notes.txt"_s, u"song.mp3"_s, u"x.xyz"_s}, {2500, 7, 1'500'000, 3});
        QTRY_VERIFY(view->viewModel()->isRecovering());
        const QString source = scratch->filePath(u"source"_s);
        QCOMPARE(view->sourceCard()->value(), source);
        QCOMPARE(accessibleName(steps->sourceButton()), u"Selected"_s); // the names follow the texts
        QCOMPARE(steps->sourceLabel()->subtitle(), source);
        for (QWidget* control : controls)
            QVERIFY2(!control->isEnabled(), qPrintable(accessibleName(control)));
        QVERIFY(view->statusLine()->spinner()->isVisible() &&
                view->recoveredFilesPanel()->scanningLabel()->isVisible());
        QCOMPARE(view->statusLine()->messageLabel()->text(), u"Recovering data, please wait..."_s);
        // Stop stands beside the status while the run goes, named for assistive technology.
        QPushButton* stop = view->statusLine()->stopButton();
        QVERIFY(stop->isVisible() && stop->isEnabled());
        QCOMPARE(accessibleName(stop), u"Stop"_s);
        QCOMPARE(accessibleName(view->statusLine()->progressBar()), u"Search progress"_s);
        saveScreenshot(view.get(), u"recovery-running"_s);

        finishRun();
        QVERIFY(!stop->isVisible() && !view->statusLine()->progressLabel()->isVisible());
        QVERIFY(!view->statusLine()->spinner()->isVisible() && steps->showLogsToggle()->isEnabled());
        QCOMPARE(view->recoveredFilesPanel()->headerLabel()->text(), u"Recovered Files (3)"_s);
        QCOMPARE(view->scannedCard()->value(), u"4"_s);
        QCOMPARE(view->statusLine()->messageLabel()->text(), u"Recovery Completed!"_s);
        QCOMPARE(view->statusLine()->messageLabel()->palette().color(QPalette::WindowText), theme::green());
        saveScreenshot(view.get(), u"finished-with-list"_s);
        // The rows in the list's order, each named with its size for assistive technology.
        QListView* list = view->recoveredFilesPanel()->listView();
        QAccessibleInterface* rows = QAccessible::queryAccessibleInterface(list);
        QCOMPARE(rows->text(QAccessible::Name), u"Recovered Files"_s);
        QStringList named;
        for (int row = 0; row < rows->childCount(); ++row) {
            named << rows->child(row)->text(QAccessible::Name);
            QVERIFY(named.last().startsWith(view->viewModel()->recoveredFiles().at(row).name() + u", "_s));
        }
        named.sort();
        QCOMPARE(named, (QStringList{u"beach.jpg, 3 KB"_s, u"notes.txt, 7 bytes"_s, u"song.mp3, 1.5 MB"_s}));
        // The list joins the tab order; Down moves on and Return opens the file under focus.
        steps->sourceButton()->setFocus(Qt::TabFocusReason);
        // After the steps: the kind filter that is on, the order, the search, then the rows.
        RecoveredFilesPanel* panel = view->recoveredFilesPanel();
        QCOMPARE(tabCycle(), controls.mid(1)
                                 << static_cast<QWidget*>(panel->kindButtons().first()) << panel->orderBox()
                                 << panel->searchField() << list << steps->sourceButton());
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(services->workspace->openedFiles,
                 QStringList{view->viewModel()->recoveredFiles().at(1).path()});
        QVERIFY(services->workspace->revealed.isEmpty());
    }

    // Stop asks first; "Continue" goes on, "Stop" ends the run with what it has, in orange.
    void stopAsksAndEndsTheRunInOrange() {
        open();
        recover({u"a.jpg"_s, u"b.jpg"_s}, {10, 20});
        QTRY_VERIFY(view->viewModel()->isRecovering());
        services->alerts->answers = {1, 0};
        view->statusLine()->stopButton()->click();
        QCOMPARE(
            services->alerts->shown.back(),
            (QStringList{u"Stop the Search"_s, u"Stop the search? The files recovered so far are kept."_s,
                         u"Stop"_s, u"Continue"_s}));
        QVERIFY(view->viewModel()->isRecovering());
        view->statusLine()->stopButton()->click();
        services->gate->open();
        QTRY_VERIFY_WITH_TIMEOUT(!view->viewModel()->isRecovering(), 10000);
        QCOMPARE(view->statusLine()->messageLabel()->text(), u"Recovery stopped"_s);
        QCOMPARE(view->statusLine()->messageLabel()->palette().color(QPalette::WindowText),
                 theme::statusColor(RecoveryViewModel::StatusColor::Orange));
        QVERIFY(logMessages(view->viewModel()->logText()).contains(u"Search stopped: 0 files recovered."_s));
        QCOMPARE(services->alerts->shown.size(), std::size_t(2)); // no completion alert
    }

    void theLogPanelShowsTheWholeLogInPlaceOfTheList() {
        open();
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        QVERIFY(view->logPanel()->isVisible() && !view->recoveredFilesPanel()->isVisible());
        LogView* text = view->logPanel()->textView();
        QCOMPARE(text->placeholderText(), u"Logs will appear here when recovery starts."_s);
        QStringList files;
        for (int i = 0; i < 30; ++i)
            files.append(u"folder%1/picture%1.png"_s.arg(i));
        recover(files, QList<int>(30, 3));
        finishRun();
        view->logPanel()->flushPending();
        QTRY_VERIFY(!view->logPanel()->isScrollAnimating());
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
        // What is drawn is the end of the log, line for line, down to its last line.
        const auto tailInView = [&] {
            QStringList drawn;
            for (qsizetype line : text->linesInView())
                drawn.append(text->lineText(line));
            return drawn.size() > 1 && view->viewModel()->logText().endsWith(drawn.join(u'\n')) &&
                   text->linesInView().back() == text->lineCount() - 1;
        };
        QVERIFY(tailInView());
        QCOMPARE(text->lineCount(), view->viewModel()->logText().count(u'\n') + 1);
        saveScreenshot(view.get(), u"log-panel"_s);
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        QVERIFY(!view->logPanel()->isVisible() && view->recoveredFilesPanel()->isVisible());

        // A long log opened mid-run, and the next line: the lines are drawn over many turns,
        // for longer than one scroll lasts, and the last one ends in view all the same.
        for (int i = 0; i < 100000; ++i)
            view->viewModel()->appendLog(u"PhotoRec: line %1 of a long run, wrapped"_s.arg(i));
        settle(*services->queues);
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        view->viewModel()->appendLog(u"the next line"_s);
        LogPanel* panel = view->logPanel();
        QTRY_VERIFY_WITH_TIMEOUT(view->viewModel()->logText().endsWith(u"the next line\n"_s) &&
                                     panel->isCaughtUp() && !panel->isScrollAnimating(),
                                 60000);
        QCOMPARE(text->verticalScrollBar()->value(), text->verticalScrollBar()->maximum());
        QVERIFY(tailInView());
        QCOMPARE(text->lineText(text->lineCount() - 2).section(u"] "_s, 1), u"the next line"_s);
    }

    // The cards and panels carry what lies below them in their own picture, so that nothing
    // behind them is drawn again at each change of what they hold: on screen they must look
    // as drawn over the window's gradient, outside their rounded corners too, and again
    // after the window changed size and the panels moved.
    void panelsLookAsDrawnOverTheBackdrop() {
        open();
        const auto close = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
                   std::abs(qBlue(a) - qBlue(b)) <= 3;
        };
        const auto check = [&](PanelSurface* panel) {
            QTRY_VERIFY(panel->isVisible());
            const QImage screen = view->grab().toImage();
            const QPoint corner = panel->mapTo(view.get(), QPoint());
            // Just outside the panel, and at its corner outside the rounded shape: the gradient.
            const QRgb outside = screen.pixel(corner - QPoint(2, 2));
            QVERIFY2(close(screen.pixel(corner + QPoint(1, 1)), outside), qPrintable(panel->objectName()));
            // Inside: the panel's fill over the gradient, once.
            const QColor fill = theme::controlBackground();
            const qreal alpha = panel->opacity();
            const auto mix = [&](int over, int below) { return qRound(over * alpha + below * (1 - alpha)); };
            const QRgb expected = qRgb(mix(fill.red(), qRed(outside)), mix(fill.green(), qGreen(outside)),
                                       mix(fill.blue(), qBlue(outside)));
            QVERIFY2(close(screen.pixel(corner + QPoint(panel->radius() + 2, panel->height() - 4)), expected),
                     qPrintable(panel->objectName()));
        };
        check(view->recoveredCard());
        check(view->recoveredFilesPanel());
        view->resize(1300, 900);
        QTest::mouseClick(view->stepsPanel()->showLogsToggle(), Qt::LeftButton);
        check(view->recoveredCard());
        check(view->logPanel());
    }
};

QTEST_MAIN(WindowTest)
#include "tst_ui_window.moc"
