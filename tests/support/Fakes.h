#pragma once

#include "platform/Alerts.h"
#include "platform/Clock.h"
#include "platform/EngineLauncher.h"
#include "platform/EngineProcess.h"
#include "platform/Folders.h"
#include "platform/Panels.h"
#include "platform/Platform.h"
#include "platform/PosixEngineLauncher.h"
#include "platform/PosixFileSystem.h"
#include "platform/QtQueues.h"
#include "platform/Resources.h"
#include "platform/Settings.h"
#include "platform/Workspace.h"

#include <QDateTime>
#include <QStringList>

#include <deque>
#include <mutex>

namespace vellorin::test {

// Records every alert and answers with scripted button indexes (the last button when the
// script has run out, which is "View Later" for the completion alert).
class FakeAlerts final : public Alerts {
  public:
    struct Shown {
        QString title;
        QString message;
        QStringList buttons;
    };
    int runModal(const QString& title, const QString& message, const QStringList& buttons) override {
        shown.push_back({title, message, buttons});
        if (!answers.empty()) {
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return static_cast<int>(buttons.size()) - 1;
    }
    std::vector<Shown> shown;
    std::deque<int> answers;
};

class RecordingWorkspace final : public Workspace {
  public:
    void openFolder(const QString& path) override { opened.append(path); }
    void revealFile(const QString& path) override { revealed.append(path); }
    QStringList opened;
    QStringList revealed;
};

class FakeClock final : public Clock {
  public:
    QDateTime now() override {
        std::lock_guard lock(mutex);
        return fixed.isValid() ? fixed : QDateTime::currentDateTime();
    }
    void set(const QDateTime& time) {
        std::lock_guard lock(mutex);
        fixed = time;
    }

  private:
    std::mutex mutex;
    QDateTime fixed;
};

class FakeFolders final : public Folders {
  public:
    FakeFolders(std::optional<QString> data, QString temp) : data_(std::move(data)), temp_(std::move(temp)) {}
    std::optional<QString> userDataFolder() override { return data_; }
    QString temporaryFolder() override { return temp_; }

  private:
    std::optional<QString> data_;
    QString temp_;
};

// Keeps every panel request open until the test answers it.
class FakePanels final : public Panels {
  public:
    struct Open {
        PanelRequest request;
        std::function<void(std::optional<QString>)> completion;
    };
    void chooseFolder(const PanelRequest& request,
                      std::function<void(std::optional<QString>)> completion) override {
        requests.push_back({request, std::move(completion)});
    }
    // Answers the oldest open panel as the user would: with a folder, or cancelled.
    void answer(std::optional<QString> folder) {
        Open open = std::move(requests.front());
        requests.erase(requests.begin());
        answered.push_back(open.request);
        open.completion(std::move(folder));
    }
    std::vector<Open> requests;
    std::vector<PanelRequest> answered;
};

class MemorySettings final : public Settings {
  public:
    bool hasSeenOnboarding() override { return seen; }
    void setHasSeenOnboarding(bool value) override { seen = value; }
    bool seen = false;
};

class FixedResources final : public Resources {
  public:
    explicit FixedResources(std::optional<QString> folder) : folder_(std::move(folder)) {}
    std::optional<QString> resourceFolder() override { return folder_; }

  private:
    std::optional<QString> folder_;
};

// An engine that can never be started: every launch fails with the given error number.
class FailingEngineLauncher final : public EngineLauncher {
  public:
    explicit FailingEngineLauncher(int errnum) : errnum_(errnum) {}
    std::shared_ptr<EngineProcess> makeProcess(Command command, Handlers) override {
        commands.push_back(std::move(command));
        return std::make_shared<Process>(errnum_);
    }
    std::vector<Command> commands;

  private:
    class Process final : public EngineProcess {
      public:
        explicit Process(int errnum) : errnum_(errnum) {}
        std::optional<Error> launch() override { return Error::fromErrno(errnum_); }
        int waitUntilExit() override { return -1; }

      private:
        int errnum_;
    };
    int errnum_;
};

// The real queues and file system with fakes at the edges a test must answer or observe.
struct TestPlatform {
    std::shared_ptr<QtQueues> queues = std::make_shared<QtQueues>();
    std::shared_ptr<FileSystem> fileSystem = std::make_shared<PosixFileSystem>();
    std::shared_ptr<FakeAlerts> alerts = std::make_shared<FakeAlerts>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Folders> folders;
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    // No resource folder: the simplified recovery, unless a test gives one.
    std::shared_ptr<Resources> resources = std::make_shared<FixedResources>(std::nullopt);
    // The real launcher: a test that gives a resource folder runs its scripts for real.
    std::shared_ptr<EngineLauncher> engine = std::make_shared<PosixEngineLauncher>();

    explicit TestPlatform(const QString& scratch)
        : folders(std::make_shared<FakeFolders>(scratch + QStringLiteral("/data"),
                                                scratch + QStringLiteral("/tmp"))) {}

    Platform platform() const {
        Platform p;
        p.queues = queues;
        p.fileSystem = fileSystem;
        p.alerts = alerts;
        p.workspace = workspace;
        p.clock = clock;
        p.folders = folders;
        p.panels = panels;
        p.settings = settings;
        p.resources = resources;
        p.engine = engine;
        return p;
    }
};

// The log without its "[time] " stamps, one entry a line.
QStringList logMessages(const QString& logText);

// Runs every queued worker task and main-queue post until nothing is left.
void settle(QtQueues& queues);

} // namespace vellorin::test
