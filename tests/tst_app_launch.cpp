// Launching the application as main() does (the window, then the delegate's queued launch),
// twice over one real settings file: the quick-start sheet on first use only.

#include "support/WindowHarness.h"

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/Allocator.h"
#include "platform/UserSettings.h"
#include "ui/ContentView.h"
#include "ui/QuickStartSheet.h"
#include "ui/StepsPanel.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTest>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

using namespace vellorin;
using namespace vellorin::test;

Q_DECLARE_METATYPE(std::function<void(QuickStartSheet*, QMainWindow*)>)

namespace {

using Dismissal = std::function<void(QuickStartSheet*, QMainWindow*)>;

} // namespace

class LaunchTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowHarness> harness;
    QString settingsFile;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<AppDelegate> delegate;

    ContentView* content() const { return dynamic_cast<ContentView*>(window->centralWidget()); }

    // One launch with the settings file, up to the window being on screen.
    void launch() {
        window = std::make_unique<MainWindow>();
        delegate = std::make_unique<AppDelegate>([this] {
            Platform platform = harness->platform();
            platform.settings = std::make_shared<UserSettings>(settingsFile);
            return platform;
        });
        delegate->attach(*qApp);
        QTRY_VERIFY(content());
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    void quit() {
        window.reset();
        delegate.reset();
    }

    bool storedSeen() const {
        return QSettings(settingsFile, QSettings::IniFormat)
            .value(QStringLiteral("hasSeenOnboarding"))
            .toBool();
    }

  private slots:
    // main() sets the allocator so that the small blocks workers hand over and the main
    // thread frees are merged at once; parked, they would all be merged in one long sweep.
    void freedSmallBlocksAreNotParked() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(M_MXFAST)
        QSKIP("the allocator is glibc's only in a plain build");
#else
        // More blocks than the thread's own cache holds, and no neighbour freed with them.
        const auto freeMany = [] {
            std::vector<void*> blocks(2000);
            std::vector<void*> keep(2000);
            for (std::size_t i = 0; i < blocks.size(); ++i) {
                blocks[i] = std::malloc(48);
                keep[i] = std::malloc(48);
            }
            for (void* block : blocks)
                std::free(block);
            const std::size_t parked = mallinfo2().fsmblks;
            for (void* block : keep)
                std::free(block);
            return parked;
        };
        QVERIFY2(freeMany() > 0, "the measure sees parked blocks with the allocator as it starts");
        freeSmallBlocksEagerly();
        QCOMPARE(freeMany(), std::size_t(0));
#endif
    }

    void init() {
        harness = std::make_unique<WindowHarness>();
        settingsFile = harness->scratch.path() + QStringLiteral("/config/Vellorin/Vellorin.conf");
    }

    void cleanup() {
        quit();
        settle(*harness->services.queues);
        harness.reset();
    }

    void launchDressesTheWindow() {
        launch();
        QCOMPARE(window->windowTitle(), QStringLiteral("Vellorin - Data Recovery"));
        // The client area, below the menu, is 1100 by 750, and the window is centred.
        QCOMPARE(content()->size(), QSize(1100, 750));
        const QPoint centre = window->frameGeometry().center();
        const QPoint screenCentre = window->screen()->availableGeometry().center();
        QVERIFY2(qAbs(centre.x() - screenCentre.x()) <= 3 && qAbs(centre.y() - screenCentre.y()) <= 3,
                 qPrintable(QStringLiteral("%1,%2").arg(centre.x()).arg(centre.y())));
        QVERIFY(delegate->applicationSupportsSecureRestorableState());
    }

    void sheetShowsOnFirstLaunchOnly_data() {
        QTest::addColumn<Dismissal>("dismiss");
        QTest::newRow("Got it") << Dismissal([](QuickStartSheet* sheet, QMainWindow*) {
            QTest::mouseClick(sheet->gotItButton(), Qt::LeftButton);
        });
        QTest::newRow("Return") << Dismissal(
            [](QuickStartSheet* sheet, QMainWindow*) { QTest::keyClick(sheet, Qt::Key_Return); });
        QTest::newRow("Escape") << Dismissal(
            [](QuickStartSheet* sheet, QMainWindow*) { QTest::keyClick(sheet, Qt::Key_Escape); });
        QTest::newRow("closed") << Dismissal([](QuickStartSheet* sheet, QMainWindow*) { sheet->close(); });
        // Quitting with the sheet still up: the window closes and goes, and the sheet with it.
        QTest::newRow("window closed") << Dismissal();
    }

    void sheetShowsOnFirstLaunchOnly() {
        QFETCH(Dismissal, dismiss);
        QVERIFY(!QFileInfo::exists(settingsFile));

        launch();
        QTRY_VERIFY(content()->quickStartSheet() && content()->quickStartSheet()->isVisible());
        QuickStartSheet* sheet = content()->quickStartSheet();
        QCOMPARE(sheet->parentWidget(), window.get());
        QCOMPARE(QApplication::activeModalWidget(), sheet);
        // Shown is not seen: only a dismissal writes the preference.
        QVERIFY(!storedSeen());

        if (dismiss) {
            dismiss(sheet, window.get());
            QVERIFY(storedSeen());
            QTRY_VERIFY(!content()->quickStartSheet());
            QCOMPARE(QApplication::activeModalWidget(), nullptr);
        } else {
            QVERIFY(window->close());
        }
        quit();
        QVERIFY(storedSeen());

        launch();
        // The sheet would come one turn of the event loop after the window.
        QTest::qWait(100);
        QVERIFY(!content()->quickStartSheet());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(content()->stepsPanel()->isEnabled());
        QVERIFY(storedSeen());
    }

    void storedFalseStillShowsTheSheet() {
        {
            QSettings settings(settingsFile, QSettings::IniFormat);
            settings.setValue(QStringLiteral("hasSeenOnboarding"), false);
        }
        launch();
        QTRY_VERIFY(content()->quickStartSheet() && content()->quickStartSheet()->isVisible());
    }
};

QTEST_MAIN(LaunchTest)
#include "tst_app_launch.moc"
