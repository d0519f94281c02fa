// The simplified recovery's walk against `find SRC -type f -printf '%s\n'`: a tree of
// 100,000 files of which none has a recoverable ending, so the run is all walking.

#include "BenchSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

using namespace vellorin;
using namespace vellorin::bench;

namespace {

bool makeTree(const QString& root, int files) {
    static const char* const kEndings[] = {".dat", ".o", ".log", ".tmp", "", ".cache", ".bak", ".db"};
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QStringLiteral("/d%1/e%2").arg(i % 50).arg((i / 50) % 20);
        if (i < 1000)
            QDir().mkpath(folder);
        const QByteArray name =
            QFile::encodeName(folder + QStringLiteral("/item%1").arg(i) + QLatin1String(kEndings[i % 8]));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const char byte = 'x';
        const bool ok = ::write(fd, &byte, static_cast<size_t>(i % 2)) >= 0;
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    vellorin::bench::startAsTheApplication();
    QApplication app(argc, argv);
    const int files = scaled(100000);
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/vellorin-bench-XXXXXX"));
    const QString source = scratch.path() + QStringLiteral("/source");
    if (!makeTree(source, files)) {
        std::fprintf(stderr, "could not write the source tree\n");
        return 2;
    }
    std::printf(
        "# Walk of %d files, none recoverable, against find -type f -printf '%%s\\n' (median of 5 runs)\n",
        files);
    const QStringList findArguments{source, QStringLiteral("-type"), QStringLiteral("f"),
                                    QStringLiteral("-printf"), QStringLiteral("%s\n")};
    timeCommand(QStringLiteral("find"), findArguments); // both walk a warm cache

    const auto model = RecoveryViewModel::create(benchPlatform(std::nullopt));
    const QString save = scratch.path() + QStringLiteral("/save");
    QDir().mkpath(save);
    std::vector<double> ours, reference;
    for (int run = 0; run < 5; ++run) {
        reference.push_back(timeCommand(QStringLiteral("find"), findArguments));
        ours.push_back(runRecovery(*model, source, save));
        if (model->scannedCount() != files || model->recoveredCount() != 0) {
            std::fprintf(stderr, "scanned %lld of %d files\n", static_cast<long long>(model->scannedCount()),
                         files);
            return 2;
        }
    }
    Report report;
    report.ratio("walk_seconds_vs_find", median(ours), median(reference), 1.5);
    return report.exitCode();
}
