#pragma once

#include "cli/CommandLine.h"
#include "platform/Alerts.h"
#include "platform/Panels.h"
#include "platform/Settings.h"
#include "platform/Workspace.h"

#include <QHash>

#include <functional>
#include <optional>

namespace vellorin::cli {

// The run's questions, answered from the command line's options; messages go to the user.
class CommandLineAlerts final : public Alerts {
  public:
    // told gets each alert that only informs, and each question answered on the user's behalf.
    CommandLineAlerts(Request::Earlier earlier, std::function<void(const QString&, const QString&)> told);

    int runModal(const QString& title, const QString& message, const QStringList& buttons) override;

    // A question that needed the user's word, which no option gave: what to tell them.
    const std::optional<QString>& unanswered() const { return unanswered_; }

  private:
    Request::Earlier earlier_;
    std::function<void(const QString&, const QString&)> told_;
    std::optional<QString> unanswered_;
};

// The places named on the command line, handed out as a panel would hand out the user's choice.
class CommandLinePanels final : public Panels {
  public:
    void answerNext(const QString& path) { next_ = path; }
    void chooseFolder(const PanelRequest& request,
                      std::function<void(std::optional<QString>)> completion) override;
    void chooseFile(const PanelRequest& request,
                    std::function<void(std::optional<QString>)> completion) override;

  private:
    std::optional<QString> next_;
};

// Nothing is opened: a terminal may be miles from any desktop.
class NoWorkspace final : public Workspace {
  public:
    void openFolder(const QString&) override {}
    void revealFile(const QString&) override {}
    void openFile(const QString&) override {}
};

// The command line's options hold for one run; the window's remembered choices stay as they are.
class RunSettings final : public Settings {
  public:
    bool hasSeenOnboarding() override { return true; }
    void setHasSeenOnboarding(bool) override {}
    QString text(const QString& key) override { return values_.value(key); }
    void setText(const QString& key, const QString& value) override { values_.insert(key, value); }

  private:
    QHash<QString, QString> values_;
};

} // namespace vellorin::cli
