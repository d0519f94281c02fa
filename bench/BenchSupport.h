#pragma once

// What every benchmark shares: a view model on the real services with answers in place of
// the windows a person would answer, a way to run it to its end, reference commands timed
// the same way, and one result format that bench/run gathers into a table.

#include "BenchReport.h"

#include "platform/Alerts.h"
#include "platform/Allocator.h"
#include "platform/Platform.h"
#include "platform/QtQueues.h"
#include "platform/Resources.h"
#include "platform/Settings.h"
#include "platform/Workspace.h"
#include "workflow/ViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace vellorin::bench {

// Answers every alert with its last button, so the completion alert is "View Later", and
// keeps the titles (main thread only) so a run can check that it was asked.
class AnsweringAlerts final : public Alerts {
  public:
    int runModal(const QString& title, const QString&, const QStringList& buttons) override {
        titles.append(title);
        return static_cast<int>(buttons.size()) - 1;
    }
    QStringList titles;
};

class FixedResources final : public Resources {
  public:
    explicit FixedResources(std::optional<QString> folder) : folder_(std::move(folder)) {}
    std::optional<QString> resourceFolder() override { return folder_; }

  private:
    std::optional<QString> folder_;
};

// Records the time between consecutive turns of the event loop, and how many exceeded a bound.
class TurnGaps {
  public:
    explicit TurnGaps(double overMs = 50.0) : overMs_(overMs) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const double gap = (now - last_) / 1e6;
            last_ = now;
            longest_ = std::max(longest_, gap);
            ++turns_;
            if (gap > overMs_)
                ++over_;
        });
    }
    void start() {
        longest_ = 0;
        turns_ = over_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    // The longest gap since start().
    double stop() {
        timer_.stop();
        return longest_;
    }
    double longestMs() const { return longest_; }
    qint64 turns() const { return turns_; }
    qint64 over() const { return over_; }

  private:
    double overMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    double longest_ = 0;
    qint64 turns_ = 0;
    qint64 over_ = 0;
};

// A window's edges no one answers in a benchmark: the quick-start sheet already seen, no
// settings kept, no file manager.
struct SeenSettings final : Settings {
    bool hasSeenOnboarding() override { return true; }
    QString text(const QString&) override { return {}; }
    void setText(const QString&, const QString&) override {}
    void setHasSeenOnboarding(bool) override {}
};
struct NoWorkspace final : Workspace {
    void openFolder(const QString&) override {}
    void revealFile(const QString&) override {}
    void openFile(const QString&) override {}
};

// The production services, with the alerts answered and the resource folder chosen by the
// benchmark: none runs the simplified recovery, the build's share/vellorin the deep one.
// Before the QApplication: the process set up as main() sets up the application (its
// allocator setting), headless unless QT_QPA_PLATFORM says otherwise.
inline void startAsTheApplication() {
    freeSmallBlocksEagerly();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

inline Platform benchPlatform(std::optional<QString> resourceFolder) {
    Platform p = Platform::system();
    p.alerts = std::make_shared<AnsweringAlerts>();
    p.resources = std::make_shared<FixedResources>(std::move(resourceFolder));
    return p;
}

// Starts a recovery and turns the event loop until it has ended; returns the wall time in
// seconds from the start to the end.
inline double runRecovery(RecoveryViewModel& model, const QString& source, const QString& save) {
    QEventLoop loop;
    bool started = false;
    const auto connection = QObject::connect(&model, &RecoveryViewModel::isRecoveringChanged, &loop, [&] {
        if (model.isRecovering())
            started = true;
        else if (started)
            loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    model.startRecovery(source, save);
    loop.exec();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    QObject::disconnect(connection);
    return seconds;
}

// Runs a command to its end, its output discarded; returns the wall time in seconds, or a
// negative value when it failed.
inline double timeCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return -1;
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

inline bool runCommand(const QString& program, const QStringList& arguments) {
    return timeCommand(program, arguments) >= 0;
}

// Flushes what earlier runs wrote, so that no run pays for another's write-back.
inline void settleDisk() {
    runCommand(QStringLiteral("sync"), {});
}

inline long peakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// What this process holds in memory now (resident set), in KiB.
inline long residentKiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

// Processor time of this process and of every child it has waited for, in seconds.
inline double processorSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Scale of a run: VELLORIN_BENCH_SCALE=0.1 makes a quick smoke run of every benchmark.
inline double scale() {
    const char* text = std::getenv("VELLORIN_BENCH_SCALE");
    const double value = text ? std::atof(text) : 1.0;
    return value > 0 ? value : 1.0;
}

inline int scaled(int count) {
    return std::max(1, static_cast<int>(count * scale()));
}

// The simplified recovery's source: files whose sizes spread evenly on a log scale from 1 KiB
// to 1 MiB (mean about 150 KB), in folders up to three levels deep, with the endings people
// recover most, so that every one of them is copied. Its size in bytes, or -1.
inline qint64 makeRecoverableTree(const QString& root, int files) {
    static const char* const kEndings[] = {".jpg", ".png", ".pdf", ".mp4", ".docx",
                                           ".mp3", ".zip", ".txt", ".CR2"};
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> logSize(std::log(1024.0), std::log(1024.0 * 1024.0));
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (char& c : block)
        c = static_cast<char>(random());
    qint64 total = 0;
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/album%1/day%2").arg(i % 20).arg(i % 7) +
                               (i % 3 == 0 ? QStringLiteral("/raw") : QString());
        QDir().mkpath(folder);
        const qint64 size = static_cast<qint64>(std::exp(logSize(random)));
        QFile file(folder + QStringLiteral("/file%1").arg(i) + QLatin1String(kEndings[i % 9]));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        // Each file starts at its own offset, so no two are alike.
        const qint64 offset =
            static_cast<qint64>(random() % static_cast<std::uint64_t>(block.size() - size + 1));
        file.write(block.constData() + offset, size);
        total += size;
    }
    return total;
}

// The deep recovery's benchmark image and PhotoRec run on it bare, as our script runs it.

inline std::optional<QString> findTool(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

inline bool runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        note(program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')).left(200) +
             QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll()).trimmed() +
             process.errorString());
        return false;
    }
    return true;
}

// The engine's command list exactly as our script has it, so that both runs do the same search.
inline std::optional<QString> scriptCommands(const QString& script) {
    QFile file(script);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray prefix = "readonly kCommands=";
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    }
    return std::nullopt;
}

// The script's command list limited to these formats, as the script limits it.
inline QString limitedCommands(QString commands, const QStringList& formats) {
    QString files = QStringLiteral(",everything,disable");
    for (const QString& name : formats)
        files += QLatin1Char(',') + name + QStringLiteral(",enable");
    return commands.replace(QStringLiteral(",everything,enable,"), files + QLatin1Char(','));
}

struct Content {
    QStringList files; // paths relative to the content folder
    qint64 bytes = 0;
};

inline QImage noise(QRandomGenerator& random, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    random.fillRange(reinterpret_cast<quint32*>(image.bits()),
                     static_cast<qsizetype>(image.sizeInBytes() / 4));
    // Smooth bands over the noise, so that the pictures are not all alike to the encoder.
    for (int y = 0; y < height; y += 8)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 255) / width, (y * 255) / height, 128));
    return image;
}

// Photographs, screenshots, bitmaps and notes until they fill about half of the image.
inline std::optional<Content> makeContent(const QString& root, qint64 budget) {
    QRandomGenerator random(20240607);
    Content content;
    const QStringList folders{QStringLiteral("DCIM/100VELLO"), QStringLiteral("Pictures/Screens"),
                              QStringLiteral("Pictures/Scans"), QStringLiteral("Documents")};
    for (const QString& folder : folders)
        QDir(root).mkpath(folder);
    for (int i = 1; content.bytes < budget; ++i) {
        QString relative;
        bool saved = false;
        switch (i % 8) {
        case 0: {
            relative = QStringLiteral("Documents/note_%1.txt").arg(i, 4, 10, QLatin1Char('0'));
            QByteArray text;
            const int lines = 40 + random.bounded(600);
            for (int line = 0; line < lines; ++line)
                text += "Line " + QByteArray::number(line) + " of note " + QByteArray::number(i) +
                        ": the quick brown fox jumps over the lazy dog, " +
                        QByteArray::number(random.generate()) + "\n";
            QFile file(root + QLatin1Char('/') + relative);
            saved = file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
            break;
        }
        case 1:
        case 2: {
            relative = QStringLiteral("Pictures/Screens/screen_%1.png").arg(i, 4, 10, QLatin1Char('0'));
            saved = noise(random, 200 + random.bounded(300), 150 + random.bounded(250))
                        .save(root + QLatin1Char('/') + relative, "PNG");
            break;
        }
        case 3: {
            relative = QStringLiteral("Pictures/Scans/scan_%1.bmp").arg(i, 4, 10, QLatin1Char('0'));
            saved = noise(random, 120 + random.bounded(200), 120 + random.bounded(200))
                        .save(root + QLatin1Char('/') + relative, "BMP");
            break;
        }
        default: {
            relative = QStringLiteral("DCIM/100VELLO/IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0'));
            saved = noise(random, 400 + random.bounded(600), 300 + random.bounded(400))
                        .save(root + QLatin1Char('/') + relative, "JPEG", 85);
            break;
        }
        }
        if (!saved) {
            note(QStringLiteral("cannot write ") + relative);
            return std::nullopt;
        }
        content.files.append(relative);
        content.bytes += QFileInfo(root + QLatin1Char('/') + relative).size();
    }
    return content;
}

// Regular files below a recovery folder as a user would count them: hidden ones left out,
// and the engine's report.xml, which our script hides and a bare run leaves in place.
inline long countRecovered(const QString& folder) {
    namespace fs = std::filesystem;
    long count = 0;
    std::error_code error;
    fs::recursive_directory_iterator walk(QFile::encodeName(folder).toStdString(), error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const std::string name = walk->path().filename().string();
        if (name.starts_with('.')) {
            if (walk->is_directory())
                walk.disable_recursion_pending();
            continue;
        }
        if (walk->is_regular_file() && name != "report.xml")
            ++count;
    }
    return count;
}

inline void readThrough(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        while (!file.read(1 << 20).isEmpty()) {
        }
}

// The engine the build linked beside our script, and the script's command list, so that a bare
// run does the same search as a recovery; nothing, with a note, when either is missing.
struct Engine {
    QString program;
    QString commands;
};

inline std::optional<Engine> buildEngine(const std::optional<QString>& resources) {
    const QString script = resources.value_or(QString()) + QStringLiteral("/photorec_auto.sh");
    const QString program = resources.value_or(QString()) + QStringLiteral("/photorec");
    if (!resources || !QFileInfo(script).isFile() || !QFileInfo(program).isExecutable()) {
        note(QStringLiteral(
                 "no engine in the build's resource folder (%1): install testdisk and configure again")
                 .arg(resources.value_or(QStringLiteral("none"))));
        return std::nullopt;
    }
    const std::optional<QString> commands = scriptCommands(script);
    if (!commands) {
        note(QStringLiteral("no command list in ") + script);
        return std::nullopt;
    }
    return Engine{program, *commands};
}

struct Run {
    double seconds = 0;
    double processor = 0;
    long files = 0;
    bool succeeded = false;
    QString detail;
};

inline Run runBare(const Engine& engine, const QString& source, const QString& save) {
    // The same layout as our script's: the engine works in a hidden folder of the recovery
    // directory and writes below it.
    const QString recovery = save + QStringLiteral("/recovered_files");
    const QString workdir = recovery + QStringLiteral("/.photorec");
    QDir().mkpath(workdir);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TERM"), QStringLiteral("dumb"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(workdir);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);

    Run run;
    QElapsedTimer clock;
    clock.start();
    process.start(engine.program,
                  {QStringLiteral("/log"), QStringLiteral("/d"), recovery + QStringLiteral("/recup_dir"),
                   QStringLiteral("/cmd"), source, engine.commands});
    // Waiting reads the pipe as it fills, so the engine never blocks on a full pipe.
    const bool finished = process.waitForFinished(-1);
    run.seconds = clock.nsecsElapsed() / 1e9;
    const qint64 screenBytes = process.readAll().size();

    QFile log(workdir + QStringLiteral("/photorec.log"));
    const bool searched = log.open(QIODevice::ReadOnly) && log.readAll().contains("\nTotal: ");
    run.succeeded =
        finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && searched;
    run.files = countRecovered(recovery);
    run.detail =
        QStringLiteral("exit %1, %2 bytes of screen output drained").arg(process.exitCode()).arg(screenBytes);
    return run;
}

// vellorin-recover run to its end as from a script: its plain output into log, outside the
// save location so that it is not counted, and standard input closed. It succeeded when it
// exited 0; its files are those below SAVE/recovered_files. The processor time is the whole
// tree's: the engine and the helpers it starts.
inline Run runRecoverCommand(const QString& program, const QStringList& arguments, const QString& save,
                             const QString& log) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(log);

    Run run;
    const double processorBefore = processorSeconds();
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool finished = process.waitForFinished(-1);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.processor = processorSeconds() - processorBefore;
    run.succeeded = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    run.files = countRecovered(save + QStringLiteral("/recovered_files"));
    run.detail = QStringLiteral("exit %1").arg(process.exitCode());
    if (!run.succeeded) {
        QFile output(log);
        QString said = output.open(QIODevice::ReadOnly)
                           ? QString::fromUtf8(output.readAll()).trimmed().right(600)
                           : process.errorString();
        run.detail += QStringLiteral(": ") + said.replace(QLatin1Char('\n'), QStringLiteral(" | "));
    }
    return run;
}

// Every run must end in success and recover files, as many as the first run did.
inline void requireAsManyFiles(Report& report, const Run& run, long& firstCount) {
    report.require(run.succeeded, QStringLiteral("the run ended in success"));
    report.require(run.files > 0, QStringLiteral("the run recovered files"));
    if (firstCount < 0)
        firstCount = run.files;
    report.require(
        run.files == firstCount,
        QStringLiteral("every run recovers as many files (%1 against %2)").arg(run.files).arg(firstCount));
}

// The median of each round's value against its reference: the two runs of one round meet
// much the same load, so their ratio varies less than the runs.
inline double pairedRatio(const std::vector<double>& values, const std::vector<double>& references) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < values.size() && i < references.size(); ++i)
        ratios.push_back(references[i] > 0 ? values[i] / references[i] : 0);
    return median(ratios);
}

// A memory card's image in folder: imageMiB MiB of FAT made with mkfs.vfat and mtools (no
// mount), about half of it photographs, screenshots, bitmaps and notes, a fifth of them
// deleted. Its path, or nothing with a note.
inline std::optional<QString> makeCardImage(const QString& folder, long imageMiB) {
    const std::optional<QString> mkfs = findTool(QStringLiteral("mkfs.vfat"));
    const std::optional<QString> mcopy = findTool(QStringLiteral("mcopy"));
    const std::optional<QString> mdel = findTool(QStringLiteral("mdel"));
    if (!mkfs || !mcopy || !mdel) {
        note(QStringLiteral("needs mkfs.vfat (dosfstools) and mcopy, mdel (mtools)"));
        return std::nullopt;
    }
    const QString contentRoot = folder + QStringLiteral("/content");
    const QString image = folder + QStringLiteral("/card.img");

    QElapsedTimer making;
    making.start();
    const std::optional<Content> content = makeContent(contentRoot, imageMiB * 1024 * 1024 * 45 / 100);
    if (!content)
        return std::nullopt;
    if (!runTool(*mkfs, {QStringLiteral("-C"), QStringLiteral("-n"), QStringLiteral("VELLBENCH"), image,
                         QString::number(imageMiB * 1024)}))
        return std::nullopt;
    QStringList copy{QStringLiteral("-i"), image, QStringLiteral("-s"), QStringLiteral("-Q")};
    for (const QString& top : QDir(contentRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        copy.append(contentRoot + QLatin1Char('/') + top);
    copy.append(QStringLiteral("::/"));
    if (!runTool(*mcopy, copy))
        return std::nullopt;
    QStringList deletion{QStringLiteral("-i"), image};
    for (qsizetype i = 4; i < content->files.size(); i += 5)
        deletion.append(QStringLiteral("::/") + content->files[i]);
    if (!runTool(*mdel, deletion))
        return std::nullopt;
    QDir(contentRoot).removeRecursively();
    note(QStringLiteral("image: %1 MiB FAT, %2 files (%3 MiB), %4 of them deleted; made in %5 s")
             .arg(imageMiB)
             .arg(content->files.size())
             .arg(content->bytes / (1024.0 * 1024.0), 0, 'f', 1)
             .arg(deletion.size() - 2)
             .arg(making.elapsed() / 1000.0, 0, 'f', 1));
    return image;
}

// What a benchmark of PhotoRec on the card image starts from: the engine, a scratch folder
// and the image in it, image and engine already in the page cache so that no run pays to
// read them. Nothing, with a note, when one of them cannot be had.
struct CardBench {
    Engine engine;
    std::unique_ptr<QTemporaryDir> scratch;
    QString image;

    // A fresh folder for one run to recover into, with what earlier runs wrote flushed, so
    // that none of it lands in this run's time.
    QString saveFolder(long round, int turn) const {
        const QString save = scratch->filePath(QStringLiteral("save-%1-%2").arg(round).arg(turn));
        QDir().mkpath(save);
        ::sync();
        return save;
    }
};

inline std::optional<CardBench> prepareCardBench(const std::optional<QString>& resources, long imageMiB) {
    if (imageMiB < 8) {
        note(QStringLiteral("the image needs at least 8 MiB"));
        return std::nullopt;
    }
    std::optional<Engine> engine = buildEngine(resources);
    if (!engine)
        return std::nullopt;
    auto scratch = std::make_unique<QTemporaryDir>();
    if (!scratch->isValid()) {
        note(QStringLiteral("cannot make a temporary folder: ") + scratch->errorString());
        return std::nullopt;
    }
    const std::optional<QString> image = makeCardImage(scratch->path(), imageMiB);
    if (!image)
        return std::nullopt;
    readThrough(*image);
    readThrough(QFileInfo(engine->program).canonicalFilePath());
    return CardBench{std::move(*engine), std::move(scratch), *image};
}

} // namespace vellorin::bench
