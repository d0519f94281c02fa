// A deep recovery through the application against PhotoRec run bare, on one FAT image.
//
//   bench_deep_recovery [IMAGE_MIB] [ROUNDS]   (or VELLORIN_BENCH_IMAGE_MIB, VELLORIN_BENCH_ROUNDS)
//
// The image (256 MiB by default, made with mkfs.vfat and mtools, no mount) holds a few
// hundred JPEG, PNG, BMP and text files, a fifth of them deleted. Each round runs both:
// - bare: PhotoRec as our script starts it (its command list, /d into a fresh folder,
//   TERM=dumb, standard input closed, its screen output into a pipe that is drained);
// - the application: RecoveryViewModel::startRecovery with the production services and the
//   build's resource folder, the completion alert answered "View Later" at once, from the
//   start until the recovery has ended, with the event loop turning.
// The rounds (7 by default) alternate which goes first; the figure is the ratio of the
// medians, goal at most 1.05, and every run must recover the same number of files. The
// fastest runs and the processor time of each side are printed beside it for information.

#include "BenchSupport.h"

#include "platform/Alerts.h"
#include "platform/Platform.h"
#include "platform/Resources.h"
#include "workflow/ViewController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <filesystem>
#include <optional>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace vellorin;
using namespace vellorin::bench;

std::optional<QString> findTool(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

bool runTool(const QString& program, const QStringList& arguments) {
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
std::optional<QString> scriptCommands(const QString& script) {
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

struct Content {
    QStringList files; // paths relative to the content folder
    qint64 bytes = 0;
};

QImage noise(QRandomGenerator& random, int width, int height) {
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
std::optional<Content> makeContent(const QString& root, qint64 budget) {
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
long countRecovered(const QString& folder) {
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

void readThrough(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        while (!file.read(1 << 20).isEmpty()) {
        }
}

// Processor time of this process and of every child it has waited for, in seconds.
double processorSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

struct Run {
    double seconds = 0;
    double processor = 0;
    long files = 0;
    bool succeeded = false;
    QString detail;
};

Run runBare(const QString& engine, const QString& image, const QString& commands, const QString& save) {
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
    process.start(engine, {QStringLiteral("/log"), QStringLiteral("/d"),
                           recovery + QStringLiteral("/recup_dir"), QStringLiteral("/cmd"), image, commands});
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

Run runApplication(const Platform& platform, AnsweringAlerts& alerts, const QString& image,
                   const QString& save) {
    auto model = RecoveryViewModel::create(platform);
    QEventLoop loop;
    bool started = false;
    bool ended = false;
    QObject::connect(model.get(), &RecoveryViewModel::isRecoveringChanged, &loop, [&] {
        if (model->isRecovering()) {
            started = true;
        } else if (started) {
            ended = true;
            loop.quit();
        }
    });
    const qsizetype alertsBefore = alerts.titles.size();

    Run run;
    QElapsedTimer clock;
    // Where the time goes: until the script runs, until it speaks, after its last word.
    qint64 launchedNs = -1, firstWordNs = -1, lastWordNs = -1;
    QObject::connect(model.get(), &RecoveryViewModel::logLineAppended, &loop, [&](const QString& line) {
        if (launchedNs < 0 && line.contains(QStringLiteral("PhotoRec automation script started...")))
            launchedNs = clock.nsecsElapsed();
        if (line.contains(QStringLiteral("] PhotoRec: "))) {
            lastWordNs = clock.nsecsElapsed();
            if (firstWordNs < 0)
                firstWordNs = lastWordNs;
        }
    });
    clock.start();
    model->startRecovery(image, save);
    if (!ended)
        loop.exec();
    run.seconds = clock.nsecsElapsed() / 1e9;
    const qint64 endNs = clock.nsecsElapsed();

    // The alert is asked right after the end, in the same main-queue task.
    const bool alerted = alerts.titles.size() == alertsBefore + 1 &&
                         alerts.titles.last() == QStringLiteral("Recovery Completed");
    run.succeeded = model->statusMessage() == QStringLiteral("Recovery Completed!") && alerted;
    run.files = countRecovered(save + QStringLiteral("/recovered_files"));
    run.detail =
        QStringLiteral("%1 listed, status \"%2\"; script launched at %3 ms, first line at %4 ms, %5 ms from "
                       "its last line to the end")
            .arg(model->recoveredCount())
            .arg(model->statusMessage())
            .arg(launchedNs / 1'000'000)
            .arg(firstWordNs / 1'000'000)
            .arg((endNs - lastWordNs) / 1'000'000);
    if (model->recoveredCount() != run.files) {
        run.succeeded = false;
        run.detail += QStringLiteral(", but the list does not hold every file");
    }
    return run;
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const long imageMiB = sizeArgument(argc, argv, 1, "VELLORIN_BENCH_IMAGE_MIB", 256);
    const long rounds = sizeArgument(argc, argv, 2, "VELLORIN_BENCH_ROUNDS", 7);
    if (imageMiB < 8) {
        note(QStringLiteral("the image needs at least 8 MiB"));
        return kCannotRun;
    }

    Platform platform = Platform::system();
    auto alerts = std::make_shared<AnsweringAlerts>();
    platform.alerts = alerts;
    const std::optional<QString> resources = platform.resources->resourceFolder();
    const QString script = resources.value_or(QString()) + QStringLiteral("/photorec_auto.sh");
    const QString engine = resources.value_or(QString()) + QStringLiteral("/photorec");
    if (!resources || !QFileInfo(script).isFile() || !QFileInfo(engine).isExecutable()) {
        note(QStringLiteral(
                 "no engine in the build's resource folder (%1): install testdisk and configure again")
                 .arg(resources.value_or(QStringLiteral("none"))));
        return kCannotRun;
    }
    const std::optional<QString> commands = scriptCommands(script);
    const std::optional<QString> mkfs = findTool(QStringLiteral("mkfs.vfat"));
    const std::optional<QString> mcopy = findTool(QStringLiteral("mcopy"));
    const std::optional<QString> mdel = findTool(QStringLiteral("mdel"));
    if (!commands || !mkfs || !mcopy || !mdel) {
        note(QStringLiteral(
            "needs the script's command list, mkfs.vfat (dosfstools) and mcopy, mdel (mtools)"));
        return kCannotRun;
    }

    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        note(QStringLiteral("cannot make a temporary folder: ") + scratch.errorString());
        return kCannotRun;
    }
    const QString contentRoot = scratch.filePath(QStringLiteral("content"));
    const QString image = scratch.filePath(QStringLiteral("card.img"));

    QElapsedTimer making;
    making.start();
    const std::optional<Content> content = makeContent(contentRoot, imageMiB * 1024 * 1024 * 45 / 100);
    if (!content)
        return kCannotRun;
    if (!runTool(*mkfs, {QStringLiteral("-C"), QStringLiteral("-n"), QStringLiteral("VELLBENCH"), image,
                         QString::number(imageMiB * 1024)}))
        return kCannotRun;
    QStringList copy{QStringLiteral("-i"), image, QStringLiteral("-s"), QStringLiteral("-Q")};
    for (const QString& top : QDir(contentRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        copy.append(contentRoot + QLatin1Char('/') + top);
    copy.append(QStringLiteral("::/"));
    if (!runTool(*mcopy, copy))
        return kCannotRun;
    QStringList deletion{QStringLiteral("-i"), image};
    for (qsizetype i = 4; i < content->files.size(); i += 5)
        deletion.append(QStringLiteral("::/") + content->files[i]);
    if (!runTool(*mdel, deletion))
        return kCannotRun;
    QDir(contentRoot).removeRecursively();
    note(QStringLiteral("image: %1 MiB FAT, %2 files (%3 MiB), %4 of them deleted; made in %5 s")
             .arg(imageMiB)
             .arg(content->files.size())
             .arg(content->bytes / (1024.0 * 1024.0), 0, 'f', 1)
             .arg(deletion.size() - 2)
             .arg(making.elapsed() / 1000.0, 0, 'f', 1));

    // Both kinds of run find the image and the engine in the page cache from the start.
    readThrough(image);
    readThrough(QFileInfo(engine).canonicalFilePath());

    Report report;
    std::vector<double> bare, application, bareProcessor, applicationProcessor;
    long firstCount = -1;
    for (long round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool bareTurn = (turn == 0) == (round % 2 == 0);
            const QString save = scratch.filePath(QStringLiteral("save-%1-%2").arg(round).arg(turn));
            QDir().mkpath(save);
            // Writes of the previous run must not land in this one's time.
            ::sync();
            const double processorBefore = processorSeconds();
            Run run = bareTurn ? runBare(engine, image, *commands, save)
                               : runApplication(platform, *alerts, image, save);
            run.processor = processorSeconds() - processorBefore;
            (bareTurn ? bare : application).push_back(run.seconds);
            (bareTurn ? bareProcessor : applicationProcessor).push_back(run.processor);
            note(QStringLiteral("round %1, %2: %3 s (processor %4 s), %5 files recovered (%6)")
                     .arg(round + 1)
                     .arg(bareTurn ? QStringLiteral("bare PhotoRec") : QStringLiteral("application"))
                     .arg(run.seconds, 0, 'f', 2)
                     .arg(run.processor, 0, 'f', 2)
                     .arg(run.files)
                     .arg(run.detail));
            report.require(run.succeeded, QStringLiteral("the run ended in success"));
            report.require(run.files > 0, QStringLiteral("the run recovered files"));
            if (firstCount < 0)
                firstCount = run.files;
            report.require(run.files == firstCount,
                           QStringLiteral("every run recovers as many files (%1 against %2)")
                               .arg(run.files)
                               .arg(firstCount));
            QDir(save).removeRecursively();
        }
    }

    note(QStringLiteral(
             "wall time in seconds, medians of %1 runs each; goal: the application at most 5% slower")
             .arg(rounds));
    report.ratio("deep_recovery_wall_s", median(application), median(bare), 1.05);
    // Other programs on the machine only ever add time: the fastest runs show the cost with
    // the least disturbance, and processor time shows the work the application adds.
    report.info("deep_recovery_wall_fastest_s", *std::min_element(application.begin(), application.end()),
                *std::min_element(bare.begin(), bare.end()));
    report.info("deep_recovery_processor_s", median(applicationProcessor), median(bareProcessor));
    // The two runs of one round meet much the same load: their ratio varies less than the runs.
    std::vector<double> paired;
    for (std::size_t i = 0; i < bare.size() && i < application.size(); ++i)
        paired.push_back(bare[i] > 0 ? application[i] / bare[i] : 0);
    report.info("deep_recovery_wall_paired_ratio", median(paired), 1.0);
    return report.exitCode();
}
