#include "support/DiskImages.h"

#include "support/TreeHelpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtDebug>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vellorin::test {

namespace {

// mkfs and mount live in sbin, which a plain user's PATH may lack.
QString toolPath(const QString& name) {
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found.isEmpty() ? name : found;
}

bool makeEmptyFile(const QString& path, qint64 bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(bytes);
}

} // namespace

bool runTool(const QString& program, const QStringList& arguments, QByteArray* output) {
    // posix_spawn rather than QProcess: Qt's child shares this process's memory until its
    // exec, which ThreadSanitizer mistakes for a fork of a threaded process.
    const QByteArray path = QFile::encodeName(toolPath(program));
    std::vector<QByteArray> storage{path};
    for (const QString& argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);

    QByteArray printed;
    char buffer[4096];
    for (ssize_t n; spawned == 0 && (n = ::read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            printed.append(buffer, n);
        else if (errno != EINTR)
            break;
    }
    ::close(pipeEnds[0]);
    int status = -1;
    if (spawned == 0)
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    if (output)
        *output = printed;
    const bool ok = spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok)
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << "failed:"
                             << (spawned != 0 ? QString::fromLocal8Bit(std::strerror(spawned)) : QString())
                             << QString::fromLocal8Bit(printed);
    return ok;
}

QStringList makePictures(const QString& folder, int count) {
    QStringList paths;
    for (int n = 0; n < count; ++n) {
        // A smooth picture of its own with some grain, so that every file differs and the
        // compressed sizes land at a few tens of KiB.
        QRandomGenerator random(static_cast<quint32>(1000 + n));
        const bool jpeg = n % 2 == 0;
        QImage image(jpeg ? 260 : 150, jpeg ? 190 : 120, QImage::Format_RGB32);
        const int hue = (n * 47) % 360;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int grain = random.bounded(48);
                const QColor base =
                    QColor::fromHsv((hue + x / 3 + y / 5) % 360, 160 + (x * y) % 80, 120 + grain);
                image.setPixel(x, y, base.rgb());
            }
        }
        const QString path =
            folder +
            QStringLiteral("/picture%1.%2").arg(n).arg(jpeg ? QStringLiteral("jpg") : QStringLiteral("png"));
        if (!image.save(path, jpeg ? "JPEG" : "PNG", jpeg ? 92 : -1))
            return {};
        paths.append(path);
    }
    return paths;
}

QByteArray sha256Of(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

QStringList visibleFileHashes(const QString& root) {
    QStringList hashes;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(native(root), ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const bool hidden = it->path().filename().string().starts_with('.');
        if (it->is_directory(ec)) {
            if (hidden)
                it.disable_recursion_pending();
            continue;
        }
        if (!hidden && it->is_regular_file(ec))
            hashes.append(QString::fromLatin1(
                sha256Of(QFile::decodeName(QByteArray::fromStdString(it->path().string())))));
    }
    hashes.sort();
    return hashes;
}

bool makeFatImage(const QString& image, qint64 bytes, const QStringList& files, const QStringList& deleted) {
    if (!makeEmptyFile(image, bytes) || !runTool(QStringLiteral("mkfs.vfat"), {image}))
        return false;
    QStringList copy{QStringLiteral("-i"), image};
    copy += files;
    copy.append(QStringLiteral("::"));
    if (!files.isEmpty() && !runTool(QStringLiteral("mcopy"), copy))
        return false;
    for (const QString& name : deleted) {
        if (!runTool(QStringLiteral("mdel"), {QStringLiteral("-i"), image, QStringLiteral("::") + name}))
            return false;
    }
    return true;
}

LoopMount::LoopMount(const QString& image, const QString& folder, const QString& options) : folder_(folder) {
    QString all = QStringLiteral("loop");
    if (!options.isEmpty())
        all += QLatin1Char(',') + options;
    QByteArray output;
    mounted_ = runTool(QStringLiteral("mount"), {QStringLiteral("-o"), all, image, folder}, &output);
    if (!mounted_)
        refusal_ = QString::fromLocal8Bit(output).trimmed();
}

LoopMount::~LoopMount() {
    if (mounted_ && !unmount())
        runTool(QStringLiteral("umount"), {QStringLiteral("-l"), folder_});
}

QString LoopMount::device() const {
    QByteArray output;
    runTool(
        QStringLiteral("findmnt"),
        {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("SOURCE"), QStringLiteral("-M"), folder_},
        &output);
    return QString::fromLocal8Bit(output).trimmed();
}

bool LoopMount::unmount() {
    if (!mounted_)
        return true;
    // "-d" also frees the loop device when the kernel keeps it.
    if (runTool(QStringLiteral("umount"), {QStringLiteral("-d"), folder_}))
        mounted_ = false;
    return !mounted_;
}

QString makeExt4Image(const QString& image, qint64 bytes, const QStringList& files,
                      const QStringList& deleted) {
    if (!makeEmptyFile(image, bytes) ||
        !runTool(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), QStringLiteral("-F"), image}))
        return QStringLiteral("mkfs.ext4 failed");
    QTemporaryDir folder;
    LoopMount mount(image, folder.path());
    if (!mount.mounted())
        return QStringLiteral("mount -o loop was refused: ") + mount.refusal();
    for (const QString& file : files) {
        if (!QFile::copy(file, folder.filePath(QFileInfo(file).fileName())))
            return QStringLiteral("cannot copy ") + file;
    }
    // The data must reach the image before the names go, or nothing is left to recover.
    ::sync();
    for (const QString& name : deleted) {
        if (!QFile::remove(folder.filePath(name)))
            return QStringLiteral("cannot delete ") + name;
    }
    if (!mount.unmount())
        return QStringLiteral("cannot unmount ") + folder.path();
    return {};
}

} // namespace vellorin::test
