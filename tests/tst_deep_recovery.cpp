// The deep recovery, driven with engine scripts of the test's own through the real launcher:
// how the script is run, what of its output reaches the log, and how the run ends.

#include "platform/EngineProcess.h"
#include "support/Fakes.h"
#include "workflow/Utf8ChunkJoiner.h"

#include <QDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vellorin;
using namespace vellorin::test;
using Color = RecoveryViewModel::StatusColor;

namespace {

// An engine script of the test's own, and a source whose name a shell would misread.
struct Deep : Scratch {
    QString resources;

    explicit Deep(const QByteArray& script) {
        source = dir.filePath(u"src 'q' \"d\" $(touch pwned) -x"_s);
        QDir().mkpath(source);
        resources = useEngine(script);
    }
    // The lines from "started" on.
    QStringList engineLines() const {
        const QStringList all = log();
        return all.mid(all.indexOf(u"PhotoRec automation script started..."_s));
    }
};

struct FailingLauncher final : EngineLauncher {
    struct Process final : EngineProcess {
        std::optional<Error> launch() override { return Error::fromErrno(ENOENT); }
        int waitUntilExit() override { return -1; }
        void stop(std::chrono::milliseconds) override {}
    };
    std::shared_ptr<EngineProcess> makeProcess(Command command, Handlers) override {
        commands.push_back(std::move(command));
        return std::make_shared<Process>();
    }
    std::vector<Command> commands;
};

} // namespace

class DeepRecoveryTest : public QObject {
    Q_OBJECT

  private slots:

    void aWholeRunWithAnEngineScript() {
        Deep deep("printf '%s\\0' \"$0\" \"$#\" \"$1\" \"$2\" \"$3\" \"$PWD\" > \"$3/.args\"\n"
                  "ls /proc/self/fd | tr '\\n' ' ' > \"$3/.fds\"\n"
                  "echo out; sleep 0.3; echo err >&2; sleep 0.3\n"
                  "mkdir -p \"$3/recup_dir.1\" && for n in 1 2 3; do echo $n > "
                  "\"$3/recup_dir.1/f000$n.jpg\"; done\n");
        // A descriptor opened without O_CLOEXEC, as a careless library might: the engine must not get it.
        const int leaky = ::open("/dev/null", O_RDONLY);
        qsizetype listedAtCompletion = -1;
        QObject::connect(deep.model.get(), &RecoveryViewModel::statusMessageChanged, deep.model.get(), [&] {
            if (deep.model->statusMessage() == u"Recovery Completed!"_s)
                listedAtCompletion = deep.model->recoveredFiles().size();
        });
        QVERIFY(deep.run());
        ::close(leaky);

        QCOMPARE(
            deep.log(),
            (QStringList{u"Starting data recovery..."_s, u"Source path: "_s + deep.source,
                         u"Output path: "_s + deep.save, u"Found bundled PhotoRec and automation script"_s,
                         u"Using bundled PhotoRec for deep recovery..."_s,
                         u"Creating recovery directory: "_s + deep.recovered,
                         u"PhotoRec automation script started..."_s, u"PhotoRec: out"_s, u"PhotoRec: err"_s,
                         u"Data recovery completed!"_s, u"Recovered files saved in: "_s + deep.recovered}));
        // One argument vector, nothing of it read as shell text, run in the save location.
        QCOMPARE(QString::fromUtf8(readFile(native(deep.recovered + u"/.args"_s)))
                     .split(QChar(0), Qt::SkipEmptyParts),
                 (QStringList{deep.resources + u"/photorec_auto.sh"_s, u"3"_s,
                              deep.resources + u"/photorec"_s, deep.source, deep.recovered, deep.save}));
        QVERIFY(!QFileInfo::exists(deep.save + u"/pwned"_s) && !QFileInfo::exists(u"pwned"_s));
        // Standard input, the output pipe twice, and the one ls holds on /proc/self/fd.
        QCOMPARE(readFile(native(deep.recovered + u"/.fds"_s)), QByteArray("0 1 2 3 "));
        // A run shorter than one monitor interval still ends with its files listed.
        QCOMPARE(listedAtCompletion, 3);
        QCOMPARE(deep.model->recoveredCount(), 3);
        QCOMPARE(deep.model->statusColor(), Color::Green);
        QCOMPARE(deep.test.alerts->shown.size(), std::size_t(1));
        QVERIFY(deep.test.workspace->opened.isEmpty()); // "View Later"
        QVERIFY(!deep.model->fileMonitorTimer());
        spin(2200); // no late tick of the monitor replaces the list
        QCOMPARE(deep.model->recoveredFiles().size(), 3);
    }

    void engineOutput_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("late"); // after the run's own last lines
        // Bash's own printf writes line by line; /usr/bin/printf writes its output at once.
        QTest::newRow("one read, two lines, one entry")
            << QByteArray("/usr/bin/printf 'first line\\nsecond line\\n'\n")
            << QStringList{u"PhotoRec: first line"_s, u"second line"_s} << QStringList();
        QTest::newRow("not UTF-8, dropped")
            << QByteArray("printf 'bad \\377\\376 bytes\\n'; sleep 0.3; printf 'good\\n'\n")
            << QStringList{u"PhotoRec: good"_s} << QStringList();
        // "€" is E2 82 AC: a read ends inside it, twice.
        QTest::newRow("a character split across reads")
            << QByteArray(
                   "printf 'price \\342\\202'; sleep 0.4; printf '\\254 each\\n'; sleep 0.4; printf '\\342'; "
                   "sleep 0.4; printf '\\202\\254\\n'\n")
            << QStringList{u"PhotoRec: price"_s, u"PhotoRec: € each"_s, u"PhotoRec: €"_s} << QStringList();
        QTest::newRow("written after the script's exit")
            << QByteArray("echo now; (sleep 1; echo late) & exit 0\n") << QStringList{u"PhotoRec: now"_s}
            << QStringList{u"PhotoRec: late"_s};
    }

    void engineOutput() {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, lines);
        QFETCH(QStringList, late);
        Deep deep(script);
        QVERIFY(deep.run());
        lines << u"Data recovery completed!"_s << u"Recovered files saved in: "_s + deep.recovered << late;
        QTRY_COMPARE_WITH_TIMEOUT(deep.engineLines().mid(1), lines, 10000);
        QCOMPARE(deep.model->statusMessage(), u"Recovery Completed!"_s);
    }

    void utf8Joiner_data() {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("taken");
        QTest::newRow("two bytes cut after one")
            << QByteArrayList{"a\xc3", "\xa9z"} << QByteArrayList{"a", "\xc3\xa9z"};
        QTest::newRow("one character over three reads")
            << QByteArrayList{"\xf0", "\x9f", "\x93\xb7!"} << QByteArrayList{"", "", "\xf0\x9f\x93\xb7!"};
        // Bytes that start no character are not held: the decoder rejects them as they are.
        QTest::newRow("stray bytes") << QByteArrayList{"a\x80", "b\xff", "c\xc0"}
                                     << QByteArrayList{"a\x80", "b\xff", "c\xc0"};
    }

    // Each row ends on a character boundary: nothing is left held.
    void utf8Joiner() {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArrayList, taken);
        Utf8ChunkJoiner joiner;
        QByteArrayList out;
        for (const QByteArray& chunk : chunks)
            out.append(joiner.take(chunk));
        QCOMPARE(out, taken);
        QVERIFY(joiner.pending().isEmpty());
    }

    void aLaunchFailureFallsBackToACopyOffTheMainThread() {
        // A walk that notes the thread it runs on: on the main one it would freeze the window.
        struct NotingFileSystem final : PosixFileSystem {
            std::variant<EntryStat, Error> statEntry(const WalkEntry& entry) override {
                walkThread = QThread::currentThread();
                return PosixFileSystem::statEntry(entry);
            }
            std::atomic<QThread*> walkThread{nullptr};
        };
        Deep deep("exit 0\n");
        auto launcher = std::make_shared<FailingLauncher>();
        auto noting = std::make_shared<NotingFileSystem>();
        deep.test.engine = launcher;
        deep.test.fileSystem = noting;
        deep.remake();
        writeFile(deep.source + u"/d/p.jpg"_s);
        // The save location takes no "recovered_files": the engine's fallback folder, prepared
        // once, receives the copies, with one alert.
        writeFile(deep.recovered, "in the way");
        QVERIFY(deep.run());
        QVERIFY(deep.test.alerts->shown.size() == 2 &&
                deep.test.alerts->shown[0].first() == u"Using Fallback Save Path"_s);
        QCOMPARE(listTree(deep.dir.filePath(u"data"_s)).filter(u"/recovered_files/d/p.jpg"_s).size(), 1);

        const QStringList log = deep.log();
        const qsizetype failed = log.indexOf(u"Failed to start PhotoRec: No such file or directory"_s);
        QVERIFY2(failed > 0 && failed < log.indexOf(u"Starting to scan directory: "_s + deep.source),
                 qPrintable(log.join(u'\n')));
        QVERIFY(log.contains(u"Successfully recovered 1 files"_s));
        QCOMPARE(launcher->commands.size(), std::size_t(1));
        QCOMPARE(launcher->commands[0].program, u"/bin/bash"_s);
        QVERIFY(noting->walkThread.load() && noting->walkThread.load() != QThread::currentThread());
        QVERIFY(!deep.model->fileMonitorTimer());
        QCOMPARE(deep.model->statusMessage(), u"Recovery Completed!"_s);
    }
};

QTEST_MAIN(DeepRecoveryTest)
#include "tst_deep_recovery.moc"
