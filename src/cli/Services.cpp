#include "cli/Services.h"

#include "workflow/Questions.h"

namespace vellorin::cli {

CommandLineAlerts::CommandLineAlerts(Request::Earlier earlier,
                                     std::function<void(const QString&, const QString&)> told)
    : earlier_(earlier), told_(std::move(told)) {}

int CommandLineAlerts::runModal(const QString& title, const QString& message, const QStringList& buttons) {
    if (title == questions::kEarlierSearch) {
        const qsizetype resume = buttons.indexOf(questions::kResume);
        const qsizetype startOver = buttons.indexOf(questions::kStartOver);
        if (earlier_ == Request::Earlier::Resume && resume >= 0)
            return static_cast<int>(resume);
        if (earlier_ == Request::Earlier::StartOver && startOver >= 0) {
            told_(title, message + QStringLiteral(" Starting over, as asked."));
            return static_cast<int>(startOver);
        }
        if (resume < 0)
            unanswered_ =
                message + (earlier_ == Request::Earlier::Resume
                               ? QStringLiteral(" It cannot be resumed; run again with --start-over.")
                               : QStringLiteral(" Run again with --start-over."));
        else
            unanswered_ = message + QStringLiteral(" Run again with --resume or --start-over.");
        return kUnanswered;
    }
    if (title == questions::kCompleted)
        return static_cast<int>(buttons.size()) - 1; // the files stay where they are
    told_(title, message);
    if (title == questions::kSearchStillRunning)
        return static_cast<int>(buttons.size()) - 1; // never stops someone else's search unasked
    return 0;
}

void CommandLinePanels::chooseFolder(const PanelRequest&,
                                     std::function<void(std::optional<QString>)> completion) {
    completion(std::exchange(next_, std::nullopt));
}

void CommandLinePanels::chooseFile(const PanelRequest&,
                                   std::function<void(std::optional<QString>)> completion) {
    completion(std::exchange(next_, std::nullopt));
}

} // namespace vellorin::cli
