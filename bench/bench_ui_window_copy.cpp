// The simplified recovery as a screen reader's user meets it: the real window on X with the
// accessibility bridge on, copying 20,000 files of 2 to 150 KiB (about 1.16 GB, in 200 folders
// of seven sub-folders each) from the moment the save panel is answered to the completion
// alert, against `cp -a` and `rsync -a` of the same tree in the same rounds, each side going
// first in turn. The figures are medians over the rounds; beside them, where the main
// thread's time went during the window's runs. Exits 1 when a goal is missed.
//
// Usage: bench_ui_window_copy [files [rounds]]   (or VELLORIN_BENCH_FILES, VELLORIN_BENCH_ROUNDS)
//        The registry is asked for every event the bridge can send, as a screen reader asks
//        for those it follows, so that the bridge sends them; VELLORIN_BENCH_A11Y_LISTENER=0
//        leaves the bridge on with no one listening.
//
// The headless platform has no accessibility bridge, so the benchmark starts Xvfb on a free
// display and runs itself again under a private session bus, from which at-spi2-core's bus
// launcher is started as a desktop session starts it. With VELLORIN_BENCH_WINDOW_READY=1 it
// runs in the X session and bus it was given instead.

#include "BenchSupport.h"

#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "platform/Alerts.h"
#include "platform/Panels.h"
#include "platform/QtQueues.h"
#include "platform/Settings.h"
#include "platform/Workspace.h"
#include "ui/ContentView.h"
#include "ui/Theme.h"
#include "workflow/Questions.h"
#include "workflow/ViewController.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace vellorin;
using namespace vellorin::bench;

namespace {

using vellorin::bench::NoWorkspace;
using vellorin::bench::SeenSettings;

constexpr double kGoalVsCp = 1.25;
constexpr double kGoalVsRsync = 1.0;
constexpr int kFolders = 200;
constexpr int kSubFolders = 7;
constexpr const char* kReadyVariable = "VELLORIN_BENCH_WINDOW_READY";
constexpr const char* kServerVariable = "VELLORIN_BENCH_XVFB_PID";
constexpr const char* kOutputVariable = "VELLORIN_BENCH_OUTPUT_FD";
const QString kA11yBus = QStringLiteral("org.a11y.Bus");

// The display number Xvfb writes once it accepts clients, or -1 when it did not in time.
int readDisplayNumber(int fd, int timeoutMs) {
    std::string text;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd ready{fd, POLLIN, 0};
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::max<qint64>(0, timeoutMs - clock.elapsed())));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            break;
        char buffer[32];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.find('\n') != std::string::npos)
            return std::atoi(text.c_str());
    }
    return -1;
}

struct Server {
    pid_t pid = -1;
    int display = -1;
};

// Xvfb on a display of its own choosing (-displayfd), so that runs side by side never meet.
Server startXvfb(const QString& program) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const std::string path = QFile::encodeName(program).toStdString();
    const std::string fd = std::to_string(fds[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Never outlive the benchmark, however it ends.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execl(path.c_str(), path.c_str(), "-displayfd", fd.c_str(), "-screen", "0", "1400x900x24",
                "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    Server server{pid, pid > 0 ? readDisplayNumber(fds[0], 20000) : -1};
    ::close(fds[0]);
    return server;
}

int waitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

int runInPreparedEnvironment(int argc, char** argv) {
    const std::optional<QString> xvfb = findTool(QStringLiteral("Xvfb"));
    const std::optional<QString> session = findTool(QStringLiteral("dbus-run-session"));
    if (!xvfb || !session) {
        note(QStringLiteral("needs Xvfb (xvfb) and dbus-run-session (dbus), with at-spi2-core for the "
                            "accessibility bus: the headless platform has no accessibility bridge"));
        return kCannotRun;
    }
    if (!QFile::exists(QStringLiteral("/usr/share/dbus-1/services/org.a11y.Bus.service")))
        note(QStringLiteral("no D-Bus service file for org.a11y.Bus: is at-spi2-core installed?"));
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        note(QStringLiteral("cannot find this program's own file"));
        return kCannotRun;
    }
    self[length] = '\0';

    const Server server = startXvfb(*xvfb);
    if (server.display < 0) {
        note(QStringLiteral("Xvfb did not start"));
        if (server.pid > 0) {
            ::kill(server.pid, SIGTERM);
            waitForChild(server.pid);
        }
        return kCannotRun;
    }
    // Only this process's environment: the benchmark run below inherits it, nothing else does.
    ::setenv("DISPLAY", (QByteArrayLiteral(":") + QByteArray::number(server.display)).constData(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    ::setenv(kReadyVariable, "1", 1);
    ::setenv(kServerVariable, QByteArray::number(server.pid).constData(), 1);
    // The bridge must find the accessibility bus through the private session bus alone.
    for (const char* name :
         {"AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY"})
        ::unsetenv(name);

    std::vector<std::string> arguments{QFile::encodeName(*session).toStdString(), "--", self};
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    // The session's daemons inherit the session's standard output and talk on it; the
    // benchmark's own lines, which bench/run reads, reach it through a descriptor of their own.
    std::fflush(stdout);
    const int output = ::dup(STDOUT_FILENO);
    ::setenv(kOutputVariable, QByteArray::number(output).constData(), 1);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(output);
    const int status = child > 0 ? waitForChild(child) : -1;
    ::kill(server.pid, SIGTERM);
    waitForChild(server.pid);
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) {
        note(QStringLiteral("the benchmark under the private session bus did not run to its end"));
        return kCannotRun;
    }
    return WEXITSTATUS(status);
}

// The folder panels, answered from the event loop as a dialog answers: with the folder the
// benchmark put up for the next question, just after onAnswer has run.
struct ScriptedPanels final : Panels {
    void chooseFolder(const PanelRequest&, std::function<void(std::optional<QString>)> completion) override {
        QTimer::singleShot(0, [this, completion = std::move(completion), chosen = std::exchange(answer, {})] {
            if (onAnswer)
                onAnswer();
            completion(chosen);
        });
    }
    void chooseFile(const PanelRequest&, std::function<void(std::optional<QString>)> completion) override {
        QTimer::singleShot(0, [completion = std::move(completion)] { completion(std::nullopt); });
    }
    std::optional<QString> answer;
    std::function<void()> onAnswer;
};

// The completion alert is the end of the timed run: onCompleted runs the moment it is asked,
// and the answer is "View Later". Any other alert is kept, for the run to be refused.
struct CompletionAlerts final : Alerts {
    int runModal(const QString& title, const QString& message, const QStringList& buttons) override {
        if (title == questions::kCompleted) {
            if (onCompleted)
                onCompleted();
        } else {
            others.append(title + QStringLiteral(": ") + message);
        }
        const qsizetype later = buttons.indexOf(QStringLiteral("View Later"));
        return static_cast<int>(later >= 0 ? later : buttons.size() - 1);
    }
    std::function<void()> onCompleted;
    QStringList others;
};

// No resource folder: a start copies file by file.
Platform windowPlatform(std::shared_ptr<Alerts> alerts, std::shared_ptr<Panels> panels) {
    Platform p = benchPlatform(std::nullopt);
    p.alerts = std::move(alerts);
    p.panels = std::move(panels);
    p.settings = std::make_shared<SeenSettings>();
    p.workspace = std::make_shared<NoWorkspace>();
    return p;
}

double threadSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Processor seconds of a process by its id, 0 when it is gone.
double processSeconds(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The name in parentheses may hold spaces; the fields after it are fixed.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const long ticks = ::sysconf(_SC_CLK_TCK);
    return fields.size() > 12 && ticks > 0 ? (fields[11].toDouble() + fields[12].toDouble()) / ticks : 0;
}

// The processes behind the accessibility bus: at-spi2-core's launcher (the owner of
// org.a11y.Bus on the session bus), the bus it started and the registry on that bus. D-Bus
// activation hands them to init, so they are found through the buses, not as our children.
std::vector<pid_t> accessibilityProcesses(const QDBusConnection& a11y) {
    std::vector<pid_t> pids;
    const QDBusReply<uint> launcher = QDBusConnection::sessionBus().interface()->servicePid(kA11yBus);
    if (launcher.isValid()) {
        pids.push_back(static_cast<pid_t>(launcher.value()));
        for (const QString& entry :
             QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toInt() == pids.front())
                pids.push_back(entry.toInt());
        }
    }
    const QDBusReply<uint> registry = a11y.interface()->servicePid(QStringLiteral("org.a11y.atspi.Registry"));
    if (registry.isValid())
        pids.push_back(static_cast<pid_t>(registry.value()));
    return pids;
}

struct Usage {
    double mainCpu = 0;
    double mainUser = 0;
    double mainSystem = 0;
    double processCpu = 0;
    long mainVoluntary = 0;
    long mainInvoluntary = 0;
    long processVoluntary = 0;
    long processInvoluntary = 0;
    double server = 0;
    double accessibility = 0;

    // The other processes are read on the main thread too, so they are read outside the
    // interval: before the thread's own figures at its start, after them at its end.
    static Usage now(const std::vector<pid_t>& server, const std::vector<pid_t>& accessibility,
                     bool opening) {
        Usage u;
        if (opening)
            u.readOthers(server, accessibility);
        u.mainCpu = threadSeconds();
        rusage thread{};
        ::getrusage(RUSAGE_THREAD, &thread);
        u.mainUser = seconds(thread.ru_utime);
        u.mainSystem = seconds(thread.ru_stime);
        u.mainVoluntary = thread.ru_nvcsw;
        u.mainInvoluntary = thread.ru_nivcsw;
        rusage self{};
        ::getrusage(RUSAGE_SELF, &self);
        u.processCpu = seconds(self.ru_utime) + seconds(self.ru_stime);
        u.processVoluntary = self.ru_nvcsw;
        u.processInvoluntary = self.ru_nivcsw;
        if (!opening)
            u.readOthers(server, accessibility);
        return u;
    }
    void readOthers(const std::vector<pid_t>& serverPids, const std::vector<pid_t>& accessibilityPids) {
        for (const pid_t pid : serverPids)
            server += processSeconds(pid);
        for (const pid_t pid : accessibilityPids)
            accessibility += processSeconds(pid);
    }
    Usage since(const Usage& before) const {
        return {mainCpu - before.mainCpu,
                mainUser - before.mainUser,
                mainSystem - before.mainSystem,
                processCpu - before.processCpu,
                mainVoluntary - before.mainVoluntary,
                mainInvoluntary - before.mainInvoluntary,
                processVoluntary - before.processVoluntary,
                processInvoluntary - before.processInvoluntary,
                server - before.server,
                accessibility - before.accessibility};
    }
};

// Turns of the event loop and the events the main thread was handed, counted without adding
// work of its own: TurnGaps' zero-interval timer would keep the main thread spinning, taking
// one of the two processors from the copy and filling the thread's processor time. A turn
// ends where the loop is about to wait again; it is busy from the first event it delivers.
class MainThreadProbe : public QObject {
  public:
    MainThreadProbe(QCoreApplication& app, std::vector<pid_t> server, std::vector<pid_t> accessibility)
        : server_(std::move(server)), accessibility_(std::move(accessibility)) {
        app.installEventFilter(this);
        connect(QAbstractEventDispatcher::instance(app.thread()), &QAbstractEventDispatcher::aboutToBlock,
                this, [this] { endTurn(); });
    }
    void start() {
        counts_.fill(0);
        turns_ = 0;
        longestMs_ = 0;
        busy_ = false;
        before_ = Usage::now(server_, accessibility_, true);
        on_ = true;
    }
    void stop() {
        usage_ = Usage::now(server_, accessibility_, false).since(before_);
        endTurn();
        on_ = false;
    }
    const Usage& usage() const { return usage_; }
    qint64 turns() const { return turns_; }
    double longestTurnMs() const { return longestMs_; }
    qint64 count(QEvent::Type type) const { return counts_[type]; }
    // The most frequent event types, "MetaCall 20012, Timer 310, ...".
    QString busiestEvents(int shown) const {
        std::vector<std::pair<qint64, int>> seen;
        for (std::size_t type = 0; type < counts_.size(); ++type)
            if (counts_[type] > 0)
                seen.emplace_back(counts_[type], static_cast<int>(type));
        std::sort(seen.rbegin(), seen.rend());
        const QMetaEnum names = QMetaEnum::fromType<QEvent::Type>();
        QStringList parts;
        for (std::size_t i = 0; i < seen.size() && i < static_cast<std::size_t>(shown); ++i) {
            const char* name = names.valueToKey(seen[i].second);
            parts.append(QStringLiteral("%1 %2")
                             .arg(name ? QString::fromLatin1(name) : QString::number(seen[i].second))
                             .arg(seen[i].first));
        }
        return parts.join(QStringLiteral(", "));
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (on_) {
            if (!busy_) {
                busy_ = true;
                turnStart_.start();
            }
            ++counts_[event->type()];
        }
        return false;
    }

  private:
    void endTurn() {
        if (!on_)
            return;
        ++turns_;
        if (busy_)
            longestMs_ = std::max(longestMs_, turnStart_.nsecsElapsed() / 1e6);
        busy_ = false;
    }

    std::vector<pid_t> server_;
    std::vector<pid_t> accessibility_;
    bool on_ = false;
    bool busy_ = false;
    QElapsedTimer turnStart_;
    qint64 turns_ = 0;
    double longestMs_ = 0;
    std::array<qint64, 65536> counts_{};
    Usage before_;
    Usage usage_;
};

struct SourceFile {
    std::string relative;
    qint64 size = 0;
};

// Files in 200 folders of seven sub-folders each, spread evenly over them, with endings the
// copy takes. Sizes from 2 to 150 KiB with their square roots spread evenly (mean 56 KiB:
// 20,000 files make about 1.16 GB); content from a fixed seed, each file from its own offset.
// Plain system calls keep the set-up short beside the runs it prepares.
std::optional<std::vector<SourceFile>> makeTree(const QString& root, long files) {
    static const char* const kEndings[] = {".jpg", ".png", ".pdf",  ".docx", ".mp3",
                                           ".JPG", ".mov", ".xlsx", ".txt"};
    std::mt19937_64 random(20260412);
    std::uniform_real_distribution<double> rootSize(std::sqrt(2.0 * 1024), std::sqrt(150.0 * 1024));
    std::vector<char> block(1 << 20);
    for (char& c : block)
        c = static_cast<char>(random());
    const std::string base = QFile::encodeName(root).toStdString();
    if (::mkdir(base.c_str(), 0755) != 0)
        return std::nullopt;
    std::vector<SourceFile> tree;
    tree.reserve(static_cast<std::size_t>(files));
    for (long i = 0; i < files; ++i) {
        const std::string folder = "folder" + std::to_string(i % kFolders);
        const std::string sub = folder + "/sub" + std::to_string((i / kFolders) % kSubFolders);
        for (const std::string& made : {folder, sub})
            if (::mkdir((base + '/' + made).c_str(), 0755) != 0 && errno != EEXIST)
                return std::nullopt;
        const double side = rootSize(random);
        SourceFile file{sub + "/file" + std::to_string(i) + kEndings[i % 9],
                        static_cast<qint64>(side * side)};
        const int fd =
            ::open((base + '/' + file.relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return std::nullopt;
        const std::size_t offset =
            static_cast<std::size_t>(random() % (block.size() - static_cast<std::size_t>(file.size) + 1));
        const ssize_t written = ::write(fd, block.data() + offset, static_cast<std::size_t>(file.size));
        if (::close(fd) != 0 || written != file.size)
            return std::nullopt;
        tree.push_back(std::move(file));
    }
    return tree;
}

bool sameBytes(const std::string& a, const std::string& b) {
    QFile first(QString::fromStdString(a));
    QFile second(QString::fromStdString(b));
    return first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly) &&
           first.readAll() == second.readAll();
}

// The recovered folder holds every file of the tree, at its size, and nothing else (no copy
// left under a temporary name); a few are compared byte for byte.
void checkCopy(Report& report, const QString& source, const QString& recovered,
               const std::vector<SourceFile>& tree) {
    const std::string from = QFile::encodeName(source).toStdString() + '/';
    const std::string to = QFile::encodeName(recovered).toStdString() + '/';
    long missing = 0;
    long resized = 0;
    QString first;
    for (const SourceFile& file : tree) {
        struct stat copy {};
        const bool there = ::stat((to + file.relative).c_str(), &copy) == 0 && S_ISREG(copy.st_mode);
        missing += there ? 0 : 1;
        resized += there && copy.st_size != file.size ? 1 : 0;
        if (first.isEmpty() && (!there || copy.st_size != file.size))
            first = QString::fromStdString(file.relative);
    }
    long present = 0;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator walk(to, error), end; !error && walk != end;
         walk.increment(error))
        present += walk->is_regular_file() ? 1 : 0;
    const std::size_t n = tree.size();
    long differing = 0;
    for (const std::size_t i : {std::size_t{0}, n / 4, n / 2, 3 * n / 4, n - 1})
        differing += sameBytes(from + tree[i].relative, to + tree[i].relative) ? 0 : 1;
    report.require(
        missing == 0 && resized == 0,
        QStringLiteral("every file recovered at its size (%1 missing, %2 of another size, first %3)")
            .arg(missing)
            .arg(resized)
            .arg(first));
    report.require(present == static_cast<long>(n),
                   QStringLiteral("the recovered folder holds %1 files, the source %2").arg(present).arg(n));
    report.require(differing == 0,
                   QStringLiteral("%1 of 5 compared files differ from their source").arg(differing));
}

// What a screen reader does first: it asks the registry for the events it follows, and the
// bridge sends only the events someone asked for. Here every object, window and focus event
// is asked for, by a connection that reads none of them. The registry's list of listeners,
// or an error.
QString listenForEverything(const QDBusConnection& a11y) {
    const auto registry = [](const QString& method) {
        return QDBusMessage::createMethodCall(QStringLiteral("org.a11y.atspi.Registry"),
                                              QStringLiteral("/org/a11y/atspi/registry"),
                                              QStringLiteral("org.a11y.atspi.Registry"), method);
    };
    for (const QString& event :
         {QStringLiteral("Object:"), QStringLiteral("Window:"), QStringLiteral("Focus:")}) {
        const QDBusMessage reply = a11y.call(registry(QStringLiteral("RegisterEvent")) << event);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return QStringLiteral("RegisterEvent refused: ") + reply.errorMessage();
    }
    const QDBusMessage listed = a11y.call(registry(QStringLiteral("GetRegisteredEvents")));
    if (listed.type() == QDBusMessage::ErrorMessage || listed.arguments().isEmpty())
        return QStringLiteral("GetRegisteredEvents refused: ") + listed.errorMessage();
    QStringList events;
    const QDBusArgument array = listed.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        QString bus;
        QString event;
        array.beginStructure();
        array >> bus >> event;
        array.endStructure();
        events.append(event);
    }
    array.endArray();
    return QStringLiteral("listeners for ") + events.join(QStringLiteral(", "));
}

struct WindowRun {
    bool completed = false;
    double seconds = 0;
    Usage usage;
    qint64 turns = 0;
    double longestTurnMs = 0;
    qint64 metaCalls = 0;
    QString events;
};

bool turnUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty(kReadyVariable))
        return runInPreparedEnvironment(argc, argv);
    if (const int output = qEnvironmentVariableIntValue(kOutputVariable); output > STDERR_FILENO) {
        ::dup2(output, STDOUT_FILENO);
        ::close(output);
        qunsetenv(kOutputVariable);
    }

    QElapsedTimer sinceStart;
    sinceStart.start();
    const long files = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_FILES", 20000);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 3);
    const pid_t server = static_cast<pid_t>(qEnvironmentVariableIntValue(kServerVariable));
    startAsTheApplication();
    QApplication app(argc, argv);
    QApplication::setPalette(theme::darkPalette()); // as main() dresses the window
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        note(QStringLiteral("runs on X only (platform %1): the figure is the window's with the accessibility "
                            "bridge on")
                 .arg(QGuiApplication::platformName()));
        return kCannotRun;
    }

    // A desktop session starts the accessibility bus with the session; the bridge only watches
    // for it.
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus || !bus->startService(kA11yBus).isValid()) {
        note(QStringLiteral("cannot start %1 on the session bus: %2")
                 .arg(kA11yBus, QDBusConnection::sessionBus().lastError().message()));
        return kCannotRun;
    }
    const QDBusReply<QString> a11yAddress = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        kA11yBus, QStringLiteral("/org/a11y/bus"), kA11yBus, QStringLiteral("GetAddress")));

    auto alerts = std::make_shared<CompletionAlerts>();
    auto panels = std::make_shared<ScriptedPanels>();
    MainWindow window;
    AppDelegate delegate([alerts, panels] { return windowPlatform(alerts, panels); });
    delegate.attach(app);
    ContentView* content = nullptr;
    if (!turnUntil(
            [&] {
                content = dynamic_cast<ContentView*>(window.centralWidget());
                return content && window.windowHandle() && window.windowHandle()->isExposed();
            },
            30000)) {
        note(QStringLiteral("the window was not shown on %1").arg(qEnvironmentVariable("DISPLAY")));
        return kCannotRun;
    }
    const double shownMs = sinceStart.nsecsElapsed() / 1e6;
    // Without the bridge on, the figure would be the plain window's.
    const bool bridge = turnUntil([] { return QAccessible::isActive(); }, 15000);
    const bool launcher = bus->isServiceRegistered(kA11yBus);
    note(QStringLiteral("X display %1, platform %2, window shown %3 ms after start; accessibility bridge %4 "
                        "%5 ms after start, %6 %7 on the session bus, accessibility bus at %8")
             .arg(qEnvironmentVariable("DISPLAY"), QGuiApplication::platformName())
             .arg(shownMs, 0, 'f', 0)
             .arg(bridge ? QStringLiteral("active") : QStringLiteral("INACTIVE"))
             .arg(sinceStart.nsecsElapsed() / 1e6, 0, 'f', 0)
             .arg(kA11yBus, launcher ? QStringLiteral("registered") : QStringLiteral("NOT registered"),
                  a11yAddress.isValid() ? a11yAddress.value() : a11yAddress.error().message()));
    if (!bridge || !launcher || !QAccessible::queryAccessibleInterface(&window)) {
        note(QStringLiteral("refused: the accessibility bridge is not on"));
        return kCannotRun;
    }

    const QDBusConnection a11y = QDBusConnection::connectToBus(a11yAddress.value(), QStringLiteral("bench"));
    if (!a11y.isConnected()) {
        note(QStringLiteral("no connection to the accessibility bus: ") + a11y.lastError().message());
        return kCannotRun;
    }
    // With no screen reader asking for events the bridge sends next to nothing; asked for
    // everything, it sends all a screen reader could follow.
    if (qEnvironmentVariable("VELLORIN_BENCH_A11Y_LISTENER") != QStringLiteral("0")) {
        const QString listening = listenForEverything(a11y);
        note(QStringLiteral("accessibility events: ") + listening);
        if (!listening.startsWith(QStringLiteral("listeners")))
            return kCannotRun;
        // The bridge hears of the listeners from the registry's signal.
        turnUntil([] { return false; }, 500);
    } else {
        note(QStringLiteral("accessibility events: no listener (VELLORIN_BENCH_A11Y_LISTENER=0)"));
    }

    const std::shared_ptr<RecoveryViewModel> model = content->viewModel();
    auto* queues = dynamic_cast<QtQueues*>(model->platform().queues.get());
    const std::optional<QString> cp = findTool(QStringLiteral("cp"));
    const std::optional<QString> rsync = findTool(QStringLiteral("rsync"));
    if (!queues || !cp || !rsync) {
        note(QStringLiteral("needs cp and rsync"));
        return kCannotRun;
    }
    // A real disk, not memory: the destinations land where /tmp does.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-window-XXXXXX"));
    const QString source = scratch.path() + QStringLiteral("/source");
    QElapsedTimer making;
    making.start();
    const std::optional<std::vector<SourceFile>> tree =
        scratch.isValid() ? makeTree(source, files) : std::nullopt;
    if (!tree) {
        note(QStringLiteral("cannot write the source tree in ") + scratch.path());
        return kCannotRun;
    }
    qint64 bytes = 0;
    for (const SourceFile& file : *tree)
        bytes += file.size;
    settleDisk();
    // Every run reads the tree from the page cache, where writing it left it.
    note(QStringLiteral("%1 files, %2 MB in %3 folders of %4 sub-folders, written in %5 s to %6; window vs "
                        "cp -a and rsync -a, median of %7 rounds")
             .arg(files)
             .arg(static_cast<double>(bytes) / 1e6, 0, 'f', 0)
             .arg(kFolders)
             .arg(kSubFolders)
             .arg(making.elapsed() / 1000.0, 0, 'f', 1)
             .arg(scratch.path())
             .arg(rounds));

    Report report;
    MainThreadProbe probe(app, server > 0 ? std::vector<pid_t>{server} : std::vector<pid_t>{},
                          accessibilityProcesses(a11y));
    // What lies between the timed runs, shown so that the benchmark's own length is understood.
    double settling = 0;
    double dropping = 0;
    const auto settle = [&] {
        QElapsedTimer clock;
        clock.start();
        settleDisk();
        settling += clock.nsecsElapsed() / 1e9;
    };
    const auto drop = [&](const QString& folder) {
        QElapsedTimer clock;
        clock.start();
        runCommand(QStringLiteral("rm"), {QStringLiteral("-rf"), folder});
        dropping += clock.nsecsElapsed() / 1e9;
    };

    // As a user starts it: the source panel answered, then Start and the save panel answered.
    // The run is timed from that answer to the completion alert.
    const auto runWindow = [&]() -> WindowRun {
        WindowRun run;
        const QString save = scratch.path() + QStringLiteral("/window");
        QDir().mkpath(save);
        panels->answer = source;
        panels->onAnswer = nullptr;
        model->selectSourceLocation();
        if (!turnUntil([&] { return model->selectedDrivePath() == source; }, 10000))
            return run;
        settle();

        QEventLoop loop;
        QElapsedTimer clock;
        bool started = false;
        panels->onAnswer = [&] {
            probe.start();
            clock.start();
        };
        alerts->onCompleted = [&] {
            run.seconds = clock.nsecsElapsed() / 1e9;
            probe.stop();
            run.completed = true;
            loop.quit();
        };
        const auto connection =
            QObject::connect(model.get(), &RecoveryViewModel::isRecoveringChanged, &loop, [&] {
                if (model->isRecovering())
                    started = true;
                else if (started)
                    QTimer::singleShot(0, &loop, &QEventLoop::quit);
            });
        QTimer::singleShot(30 * 60 * 1000, &loop, &QEventLoop::quit);
        panels->answer = save;
        model->selectSaveLocationAndStart();
        loop.exec();
        QObject::disconnect(connection);
        alerts->onCompleted = nullptr;
        panels->onAnswer = nullptr;
        // What the run posted after its end is the window's to take in before the next run.
        turnUntil([&] { return queues->pendingMainTasks() == 0; }, 60000);
        QCoreApplication::processEvents();

        run.usage = probe.usage();
        run.turns = probe.turns();
        run.longestTurnMs = probe.longestTurnMs();
        run.metaCalls = probe.count(QEvent::MetaCall);
        run.events = probe.busiestEvents(6);
        report.require(run.completed, QStringLiteral("the window's run ended in the completion alert (%1)")
                                          .arg(alerts->others.join(QStringLiteral("; "))));
        report.require(model->recoveredCount() == files,
                       QStringLiteral("%1 of %2 files listed").arg(model->recoveredCount()).arg(files));
        if (run.completed)
            checkCopy(report, source, save + QStringLiteral("/recovered_files"), *tree);
        drop(save);
        return run;
    };
    struct Reference {
        double seconds = 0;
        double processor = 0;
    };
    const auto runReference = [&](const QString& program, const QStringList& arguments,
                                  const QString& target) {
        settle();
        rusage before{};
        ::getrusage(RUSAGE_CHILDREN, &before);
        Reference run{timeCommand(program, arguments), 0};
        rusage after{};
        ::getrusage(RUSAGE_CHILDREN, &after);
        run.processor = seconds(after.ru_utime) + seconds(after.ru_stime) - seconds(before.ru_utime) -
                        seconds(before.ru_stime);
        report.require(run.seconds > 0, program + QStringLiteral(" succeeded"));
        drop(target);
        return run;
    };
    const auto runCp = [&] {
        const QString target = scratch.path() + QStringLiteral("/cp");
        return runReference(*cp, {QStringLiteral("-a"), source, target}, target);
    };
    const auto runRsync = [&] {
        const QString target = scratch.path() + QStringLiteral("/rsync");
        return runReference(
            *rsync, {QStringLiteral("-a"), source + QLatin1Char('/'), target + QLatin1Char('/')}, target);
    };

    std::vector<double> windowSeconds, cpSeconds, rsyncSeconds, mainCpu;
    for (long round = 0; round < rounds; ++round) {
        // The window goes first in one round and last in the next, so that no side always meets
        // the write-back of another.
        const bool windowFirst = round % 2 == 0;
        WindowRun run;
        Reference cpRun;
        Reference rsyncRun;
        if (windowFirst) {
            run = runWindow();
            cpRun = runCp();
            rsyncRun = runRsync();
        } else {
            rsyncRun = runRsync();
            cpRun = runCp();
            run = runWindow();
        }
        if (!run.completed) {
            note(QStringLiteral("the window's run did not complete; no figures"));
            return kCannotRun;
        }
        windowSeconds.push_back(run.seconds);
        cpSeconds.push_back(cpRun.seconds);
        rsyncSeconds.push_back(rsyncRun.seconds);
        mainCpu.push_back(run.usage.mainCpu);
        const Usage& u = run.usage;
        std::printf(
            "# round %ld (%s): window %.2f s, cp -a %.2f s (%.2f s of processor), rsync -a %.2f s (%.2f s "
            "of processor)\n",
            round + 1, windowFirst ? "window first" : "window last", run.seconds, cpRun.seconds,
            cpRun.processor, rsyncRun.seconds, rsyncRun.processor);
        std::printf(
            "#   main thread: %.2f s of processor (%.0f %% of the run; user %.2f, system %.2f), "
            "%ld voluntary and %ld involuntary switches, %lld turns of the event loop, longest %.1f ms\n",
            u.mainCpu, 100 * u.mainCpu / run.seconds, u.mainUser, u.mainSystem, u.mainVoluntary,
            u.mainInvoluntary, static_cast<long long>(run.turns), run.longestTurnMs);
        std::printf(
            "#   events on the main thread: %s; MetaCall (the main queue's drains and other queued calls) "
            "%.2f per file\n",
            qPrintable(run.events), static_cast<double>(run.metaCalls) / static_cast<double>(files));
        std::printf(
            "#   process: %.2f s of processor, %ld voluntary and %ld involuntary switches; X server %.2f s, "
            "accessibility bus processes %.2f s\n",
            u.processCpu, u.processVoluntary, u.processInvoluntary, u.server, u.accessibility);
        std::fflush(stdout);
    }

    std::printf(
        "# throughput: window %.0f MB/s, cp -a %.0f MB/s, rsync -a %.0f MB/s; per round window/cp -a %.2f, "
        "window/rsync -a %.2f (medians of the rounds' own ratios)\n",
        static_cast<double>(bytes) / 1e6 / median(windowSeconds),
        static_cast<double>(bytes) / 1e6 / median(cpSeconds),
        static_cast<double>(bytes) / 1e6 / median(rsyncSeconds), pairedRatio(windowSeconds, cpSeconds),
        pairedRatio(windowSeconds, rsyncSeconds));
    note(QStringLiteral("between the runs: %1 s flushing the disk, %2 s removing the copies")
             .arg(settling, 0, 'f', 1)
             .arg(dropping, 0, 'f', 1));
    report.ratio("window_copy_seconds_vs_cp_a", median(windowSeconds), median(cpSeconds), kGoalVsCp);
    report.ratio("window_copy_seconds_vs_rsync_a", median(windowSeconds), median(rsyncSeconds), kGoalVsRsync);
    // Against the run's own length: the share of it the main thread was busy.
    report.info("window_copy_main_thread_cpu_seconds", median(mainCpu), median(windowSeconds));
    return report.exitCode();
}
