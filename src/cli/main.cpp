#include "cli/CommandLine.h"
#include "cli/RecoverCommand.h"
#include "cli/Report.h"
#include "platform/Allocator.h"
#include "platform/Platform.h"
#include "platform/QtQueues.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringDecoder>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only what is safe in a handler: the signal's number goes to the event loop through a socket.
void onSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &number, 1);
}

void say(int fd, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    [[maybe_unused]] const ssize_t written =
        ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    vellorin::freeSmallBlocksEagerly();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vellorin"));
    QCoreApplication::setApplicationName(QStringLiteral("vellorin-recover"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLORIN_VERSION));

    using vellorin::cli::Parsed;
    // Paths are handled as text from here on; a name in other bytes would become another name.
    for (int i = 1; i < argc; ++i) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8.decode(QByteArrayView(argv[i]));
        if (utf8.hasError()) {
            say(STDERR_FILENO,
                QStringLiteral(
                    "vellorin-recover: \"%1\" is not valid UTF-8. Give a link with a UTF-8 name to it "
                    "instead (ln -s).\n%2\n")
                    .arg(vellorin::cli::Report::printable(decoded), vellorin::cli::usageHint()));
            return vellorin::cli::RecoverCommand::kUsage;
        }
    }
    const Parsed parsed = vellorin::cli::parseArguments(QCoreApplication::arguments().mid(1));
    switch (parsed.action) {
    case Parsed::Action::Help:
        say(STDOUT_FILENO, vellorin::cli::helpText());
        return 0;
    case Parsed::Action::Version:
        say(STDOUT_FILENO, QStringLiteral("vellorin-recover %1\n").arg(QStringLiteral(VELLORIN_VERSION)));
        return 0;
    case Parsed::Action::Usage:
        say(STDERR_FILENO,
            QStringLiteral("vellorin-recover: %1\n%2\n")
                .arg(vellorin::cli::Report::printable(parsed.problem), vellorin::cli::usageHint()));
        return vellorin::cli::RecoverCommand::kUsage;
    case Parsed::Action::Run:
        break;
    }

    // The engine script's advice is for someone at a terminal, not at the window.
    qputenv("VELLORIN_SESSION", "terminal");
    using Style = vellorin::cli::Report::Style;
    const Style style = parsed.request.json            ? Style::Json
                        : ::isatty(STDOUT_FILENO) == 1 ? Style::Terminal
                                                       : Style::Plain;
    vellorin::cli::Report report(style, STDOUT_FILENO, STDERR_FILENO);
    // A reader that went away (a pipe into head) must not end the run half-way.
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        report.error(QStringLiteral("Cannot watch for Ctrl+C."));
        return vellorin::cli::RecoverCommand::kFailed;
    }
    const vellorin::Platform platform = vellorin::Platform::system();
    // Held here to the end: the last hold on the queues must never be a task of their own.
    const auto queues = std::dynamic_pointer_cast<vellorin::QtQueues>(platform.queues);
    auto commandHeld = std::make_shared<vellorin::cli::RecoverCommand>(parsed.request, report, platform);
    vellorin::cli::RecoverCommand& command = *commandHeld;
    QSocketNotifier notifier(signalPipe[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &command, [&command] {
        unsigned char number = 0;
        if (::read(signalPipe[1], &number, 1) == 1)
            command.interrupt(number);
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);

    if (const std::optional<int> refused = command.prepare())
        return *refused;
    command.start();
    const int status = QCoreApplication::exec();
    // What the run left going (a last scan of the folder, a look at its sorting) ends before
    // anything it may still reach is taken down; what it posted is dropped with the queue.
    if (queues)
        queues->waitForWorkers();
    commandHeld.reset();
    return status;
}
