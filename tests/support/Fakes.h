#pragma once

#include "platform/Alerts.h"
#include "platform/BlockDevices.h"
#include "platform/Clock.h"
#include "platform/DiskAccess.h"
#include "platform/Folders.h"
#include "platform/LockedSearches.h"
#include "platform/Panels.h"
#include "platform/Platform.h"
#include "platform/PosixEngineLauncher.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtQueues.h"
#include "platform/Resources.h"
#include "platform/Settings.h"
#include "platform/SystemBlockDevices.h"
#include "platform/Workspace.h"
#include "workflow/ViewController.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

namespace vellorin::test {

using namespace Qt::StringLiterals;

// Records every alert, as its title, message and buttons, and answers with scripted button
// indexes, then with the last button ("View Later" for the completion alert).
struct FakeAlerts final : Alerts {
    int runModal(const QString& title, const QString& message, const QStringList& buttons) override {
        shown.push_back(QStringList{title, message} + buttons);
        return answers.isEmpty() ? int(buttons.size()) - 1 : answers.takeFirst();
    }
    // The one alert shown; empty unless exactly one was.
    QStringList only() const { return shown.size() == 1 ? shown[0] : QStringList(); }
    std::vector<QStringList> shown;
    QList<int> answers;
};

struct RecordingWorkspace final : Workspace {
    void openFolder(const QString& path) override { opened.append(path); }
    void revealFile(const QString& path) override { revealed.append(path); }
    void openFile(const QString& path) override { openedFiles.append(path); }
    QStringList opened, revealed, openedFiles;
};

// The time of the system, or the one a test fixed.
struct FakeClock final : Clock {
    QDateTime now() override {
        return fixedMs ? QDateTime::fromMSecsSinceEpoch(fixedMs) : QDateTime::currentDateTime();
    }
    void set(const QDateTime& time) { fixedMs = time.isValid() ? time.toMSecsSinceEpoch() : 0; }
    std::atomic<qint64> fixedMs{0};
};

struct FakeFolders final : Folders {
    explicit FakeFolders(const QString& scratch) : scratch(scratch) {}
    std::optional<QString> userDataFolder() override { return scratch + u"/data"_s; }
    QString temporaryFolder() override { return scratch + u"/tmp"_s; }
    QString scratch;
};

// Keeps every panel open until the test answers it, with a folder or cancelled.
struct FakePanels final : Panels {
    struct Open {
        PanelRequest request;
        std::function<void(std::optional<QString>)> completion;
    };
    void chooseFolder(const PanelRequest& request,
                      std::function<void(std::optional<QString>)> done) override {
        requests.push_back({request, std::move(done)});
    }
    void chooseFile(const PanelRequest& request, std::function<void(std::optional<QString>)> done) override {
        requests.push_back({request, std::move(done)});
    }
    void answer(std::optional<QString> folder) {
        Open open = std::move(requests.front());
        requests.erase(requests.begin());
        open.completion(std::move(folder));
    }
    std::vector<Open> requests;
};

struct MemorySettings final : Settings {
    bool hasSeenOnboarding() override { return seen; }
    void setHasSeenOnboarding(bool value) override { seen = value; }
    QString text(const QString& key) override { return texts.value(key); }
    void setText(const QString& key, const QString& value) override { texts.insert(key, value); }
    bool seen = false;
    QHash<QString, QString> texts;
};

struct FixedResources final : Resources {
    explicit FixedResources(std::optional<QString> folder) : folder(std::move(folder)) {}
    std::optional<QString> resourceFolder() override { return folder; }
    std::optional<QString> folder;
};

// The real queues, except that while the gate is closed a started recovery run is held, so
// that the test can look at the window or the model mid-run.
struct GatedQueues final : Queues {
    explicit GatedQueues(std::shared_ptr<QtQueues> inner) : inner(std::move(inner)) {}
    void postMain(Task task) override { inner->postMain(std::move(task)); }
    std::optional<std::uint64_t> postMainCounted(Task task) override {
        return inner->postMainCounted(std::move(task));
    }
    std::optional<std::uint64_t> lastMainPost() override { return inner->lastMainPost(); }
    void background(Task task) override { inner->background(std::move(task)); }
    void userInitiated(Task task) override {
        std::lock_guard lock(mutex);
        closed ? held.push_back(std::move(task)) : inner->userInitiated(std::move(task));
    }
    void open() {
        std::lock_guard lock(mutex);
        closed = false;
        for (; !held.empty(); held.pop_front())
            inner->userInitiated(std::move(held.front()));
    }
    std::shared_ptr<QtQueues> inner;
    std::mutex mutex;
    std::atomic<bool> closed = false;
    std::deque<Task> held;
};

// A recorded "lsblk --json" and a mount table given by the test.
struct RecordedBlockDevices final : BlockDevices {
    explicit RecordedBlockDevices(const QString& recording, QHash<QString, QString> mounts = {});
    std::variant<QList<BlockDevice>, QString> list() override;
    // The longest mount point that holds the path.
    QString deviceHolding(const QString& path) override;
    QByteArray json;
    // Mount point → device.
    QHash<QString, QString> mounts;
    // Kernel name → image, for loop devices.
    QHash<QString, QString> images;
};

// Opens nothing and asks no one: the engine script opens the source itself.
struct NoDiskAccess final : DiskAccess {
    Opened openSource(const QString&, const std::function<void(const QString&)>&) override { return {}; }
    void unmountStaleViews() override {}
};

// The real queues, file system and engine launcher, with fakes at the edges a test answers
// or observes. No resource folder, so the simplified recovery, unless a test gives one.
struct TestPlatform {
    QString scratch;
    std::shared_ptr<QtQueues> queues = std::make_shared<QtQueues>();
    std::shared_ptr<GatedQueues> gate = std::make_shared<GatedQueues>(queues);
    std::shared_ptr<FileSystem> fileSystem = std::make_shared<PosixFileSystem>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<Resources> resources = std::make_shared<FixedResources>(std::nullopt);
    std::shared_ptr<EngineLauncher> engine = std::make_shared<PosixEngineLauncher>();
    std::shared_ptr<DiskAccess> disks = std::make_shared<NoDiskAccess>();
    std::shared_ptr<BlockDevices> blockDevices = std::make_shared<SystemBlockDevices>();
    std::shared_ptr<RunningSearches> searches = std::make_shared<LockedSearches>();

    Platform platform() const {
        return Platform{
            gate,    fileSystem, alerts,    workspace, clock, std::make_shared<FakeFolders>(scratch),
            panels,  settings,   resources, engine,    disks, blockDevices,
            searches};
    }
};

// The log without its "[time] " stamps, one entry a line.
QStringList logMessages(const QString& logText);
// Runs every queued worker task and main-queue post until nothing is left.
void settle(QtQueues& queues);
// Turns the event loop for the given time.
void spin(int milliseconds);

// Follows one recovery of a model: made before the start, it sees isRecovering go true and
// then false again.
struct RecoveryWatcher {
    explicit RecoveryWatcher(RecoveryViewModel& model);
    // Turns the event loop until the recovery has ended, and a little longer so that the
    // lines its ending posted have landed. False on timeout.
    bool waitForEnd(int timeoutMs = 30000);
    bool started = false, ended = false;
    // Receives the model's signals: a watcher may go before the model it followed.
    QObject receiver;
};

// A resource folder below parent with "photorec_auto.sh" holding the given bash text and, when
// asked for, a "photorec" that is never run.
QString makeResourceFolder(const QString& parent, const QByteArray& script, bool withEngine = true);

// A folder laid out as the installed resources are, everyone may read and run what is in it:
// a copy of the build's engine script, its source-view helper, and as "photorec" either the
// given program text or a link to the build's engine. Returns the resource folder.
QString copyEngineFolder(const QString& parent, const QByteArray& engine = {});
// An engine that notes "<its uid> <its parent's effective uid>", then runs the real PhotoRec.
extern const QByteArray kNotingEngine;
// What the noting engines of a resource folder noted since the last call, a line each.
QStringList takeCredentials(const QString& resourceFolder);

// Root reads whatever the permission bits say, so a case about permissions proves nothing as
// root: the executable runs the function again as "nobody", and its result is this one's.
int rerunAsNobody(const char* testFunction);
// ThreadSanitizer's options with its suppressions (named last in them) copied into folder,
// where a program run as another user can read them; the options as they are without any.
QString tsanOptionsReadableIn(const QString& folder);

std::string native(const QString& path);
// Writes a file, making its folders; a path in bytes keeps a name that is not UTF-8 exact.
void writeFile(const std::string& path, const QByteArray& bytes = "x");
void writeFile(const QString& path, const QByteArray& bytes = "x");
QByteArray readFile(const std::string& path);
// Every file and link below root, hidden ones included: relative paths, sorted.
QStringList listTree(const QString& root);

// A scratch folder with a source and a save location in it, the platform over it, and a model
// made of that platform: a test that changes the platform makes the model again.
struct Scratch {
    Scratch() { QDir().mkpath(source), QDir().mkpath(save); }
    // remove_all: QDir cannot remove a name that is not valid UTF-8.
    ~Scratch() { std::filesystem::remove_all(native(dir.path())); }
    QTemporaryDir dir;
    TestPlatform test{dir.path()};
    QString source = dir.filePath(u"source"_s), save = dir.filePath(u"save"_s);
    QString recovered = save + u"/recovered_files"_s;
    std::shared_ptr<RecoveryViewModel> model = RecoveryViewModel::create(test.platform());

    RecoveryViewModel& remake() { return *(model = RecoveryViewModel::create(test.platform())); }
    QStringList log() const { return logMessages(model->logText()); }
    // The recovery from source to save, as the save panel's answer starts it, to its end.
    // False on timeout.
    bool run(int timeoutMs = 120000) {
        RecoveryWatcher watcher(*model);
        model->startRecovery(source, save);
        return watcher.waitForEnd(timeoutMs);
    }
    // The given bash text as the engine script, and a model that runs it. Returns the
    // resource folder.
    QString useEngine(const QByteArray& script) {
        const QString folder = makeResourceFolder(dir.path(), script);
        test.resources = std::make_shared<FixedResources>(folder);
        remake();
        return folder;
    }
};

} // namespace vellorin::test
