#include "platform/EngineProcess.h"
#include "platform/PosixEngineLauncher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

using namespace vellorin;

namespace {

// What one process printed and how it ended, gathered from the launcher's threads.
struct Run {
    std::mutex mutex;
    QByteArray output;
    QList<QByteArray> chunks;
    int exitStatus = -1000;
    std::atomic<bool> exited{false};
    std::optional<Error> launchError;
    int waited = -1000;

    EngineLauncher::Handlers handlers() {
        EngineLauncher::Handlers h;
        h.output = [this](const QByteArray& chunk) {
            std::lock_guard lock(mutex);
            output += chunk;
            chunks.append(chunk);
        };
        h.exit = [this](int status) {
            {
                std::lock_guard lock(mutex);
                exitStatus = status;
            }
            exited = true;
        };
        return h;
    }
    QByteArray text() {
        std::lock_guard lock(mutex);
        return output;
    }
};

void runBash(Run& run, const QString& script, const QStringList& extra = {},
             const QString& directory = QDir::tempPath()) {
    PosixEngineLauncher launcher;
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("fake")};
    arguments += extra;
    auto process = launcher.makeProcess({QStringLiteral("/bin/bash"), arguments, directory}, run.handlers());
    run.launchError = process->launch();
    if (run.launchError)
        return;
    run.waited = process->waitUntilExit();
    QTRY_VERIFY_WITH_TIMEOUT(run.exited.load(), 10000);
}

} // namespace

class EngineLauncherTest : public QObject {
    Q_OBJECT

  private slots:
    void argumentsArriveAsOneVectorUntouched();
    void standardOutputAndErrorShareOnePipe();
    void workingDirectoryIsTheOneGiven();
    void noOtherDescriptorIsInherited();
    void exitStatusIsTheExitCode_data();
    void exitStatusIsTheExitCode();
    void killedBySignalGivesTheSignalNumber();
    void missingProgramFailsTheLaunch();
    void missingWorkingDirectoryFailsTheLaunch();
    void outputOfAGrandchildArrivesAfterTheExit();
    void chunksArriveAsTheyAreWritten();
};

void EngineLauncherTest::argumentsArriveAsOneVectorUntouched() {
    const QStringList hostile{QStringLiteral("a b"),        QStringLiteral("$(touch /tmp/vellorin-pwned)"),
                              QStringLiteral("-rf"),        QStringLiteral("quote\"'`"),
                              QStringLiteral("line\nfeed"), QString()};
    Run run;
    runBash(run, QStringLiteral("for a in \"$@\"; do printf '<%s>' \"$a\"; done"), hostile);
    QVERIFY(!run.launchError);
    QCOMPARE(run.waited, 0);
    QCOMPARE(QString::fromUtf8(run.text()),
             QStringLiteral("<a b><$(touch /tmp/vellorin-pwned)><-rf><quote\"'`><line\nfeed><>"));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/vellorin-pwned")));
}

void EngineLauncherTest::standardOutputAndErrorShareOnePipe() {
    Run run;
    runBash(run, QStringLiteral("echo out; sleep 0.1; echo err >&2; sleep 0.1; echo out2"));
    QCOMPARE(run.text(), QByteArray("out\nerr\nout2\n"));
}

void EngineLauncherTest::workingDirectoryIsTheOneGiven() {
    QTemporaryDir folder;
    const QString odd = folder.filePath(QStringLiteral("save place 'x'"));
    QVERIFY(QDir().mkpath(odd));
    Run run;
    runBash(run, QStringLiteral("pwd"), {}, odd);
    QCOMPARE(QString::fromUtf8(run.text()), odd + QLatin1Char('\n'));
}

void EngineLauncherTest::noOtherDescriptorIsInherited() {
    // A descriptor opened without O_CLOEXEC, as a careless library might.
    const int leaky = ::open("/dev/null", O_RDONLY);
    QVERIFY(leaky > 2);
    Run run;
    runBash(run, QStringLiteral("ls /proc/self/fd | sort -n | tr '\\n' ' '"));
    ::close(leaky);
    // 0 (the application's own standard input), 1 and 2 (the pipe), and the descriptor ls
    // itself holds open on /proc/self/fd.
    const QStringList fds = QString::fromUtf8(run.text()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(fds.size(), 4);
    QCOMPARE(fds.mid(0, 3), (QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")}));
}

void EngineLauncherTest::exitStatusIsTheExitCode_data() {
    QTest::addColumn<int>("code");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("255") << 255;
}

void EngineLauncherTest::exitStatusIsTheExitCode() {
    QFETCH(int, code);
    Run run;
    runBash(run, QStringLiteral("exit %1").arg(code));
    QCOMPARE(run.waited, code);
    QCOMPARE(run.exitStatus, code);
}

void EngineLauncherTest::killedBySignalGivesTheSignalNumber() {
    Run run;
    runBash(run, QStringLiteral("kill -TERM $$"));
    QCOMPARE(run.waited, 15);
    QCOMPARE(run.exitStatus, 15);
}

void EngineLauncherTest::missingProgramFailsTheLaunch() {
    PosixEngineLauncher launcher;
    Run run;
    auto process =
        launcher.makeProcess({QStringLiteral("/nonexistent/bash"), {}, QDir::tempPath()}, run.handlers());
    const auto error = process->launch();
    QVERIFY(error);
    QCOMPARE(error->description, QStringLiteral("No such file or directory"));
    QTest::qWait(100);
    QVERIFY(!run.exited);
}

void EngineLauncherTest::missingWorkingDirectoryFailsTheLaunch() {
    PosixEngineLauncher launcher;
    Run run;
    auto process = launcher.makeProcess({QStringLiteral("/bin/bash"),
                                         {QStringLiteral("-c"), QStringLiteral("true")},
                                         QStringLiteral("/nonexistent/x")},
                                        run.handlers());
    const auto error = process->launch();
    QVERIFY(error);
    QCOMPARE(error->description, QStringLiteral("No such file or directory"));
}

void EngineLauncherTest::outputOfAGrandchildArrivesAfterTheExit() {
    Run run;
    runBash(run, QStringLiteral("echo now; (sleep 1; echo late) & exit 3"));
    QCOMPARE(run.exitStatus, 3);
    QCOMPARE(run.text(), QByteArray("now\n"));
    QTRY_COMPARE_WITH_TIMEOUT(run.text(), QByteArray("now\nlate\n"), 10000);
}

void EngineLauncherTest::chunksArriveAsTheyAreWritten() {
    Run run;
    runBash(run, QStringLiteral("printf 'one\\ntwo\\n'; sleep 0.3; printf 'three'"));
    std::lock_guard lock(run.mutex);
    QCOMPARE(run.chunks, (QList<QByteArray>{QByteArray("one\ntwo\n"), QByteArray("three")}));
}

QTEST_GUILESS_MAIN(EngineLauncherTest)
#include "tst_engine_launcher.moc"
