#include "workflow/SaveLocationGuard.h"

#include <QFileInfo>
#include <QSet>

namespace vellorin {

namespace {

// How deep loop devices may be stacked (an image on a mounted image…) before giving up.
constexpr int kMaxLoopDepth = 4;

// Every name a device or file is known by: as given, as the kernel names it, and with its
// links resolved (/dev/mapper/root is /dev/dm-0).
QSet<QString> namesOf(const QString& path) {
    QSet<QString> names{path};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty())
        names.insert(canonical);
    return names;
}

bool isNamed(const BlockDevice& device, const QSet<QString>& names) {
    return names.contains(device.path) || names.contains(QStringLiteral("/dev/") + device.kernelName);
}

// Collects the chain from a root down to every device named `names`: a device mapped onto
// two disks appears under both.
void collectAncestors(const BlockDevice& device, const QSet<QString>& names, QList<const BlockDevice*>& chain,
                      QList<const BlockDevice*>& found) {
    chain.append(&device);
    if (isNamed(device, names))
        found.append(chain);
    for (const BlockDevice& child : device.children)
        collectAncestors(child, names, chain, found);
    chain.removeLast();
}

} // namespace

std::optional<QString> SaveLocationGuard::sourceUnder(const QString& sourcePath, const QString& savePath) {
    const auto listed = devices_.list();
    const auto* tree = std::get_if<QList<BlockDevice>>(&listed);
    if (!tree)
        return std::nullopt;
    const QSet<QString> sourceNames = namesOf(sourcePath);

    QString holderOf = savePath;
    for (int depth = 0; depth <= kMaxLoopDepth; ++depth) {
        const QString holder = devices_.deviceHolding(holderOf);
        if (holder.isEmpty())
            return std::nullopt;
        const QSet<QString> holderNames = namesOf(holder);
        if (!(holderNames & sourceNames).isEmpty())
            return sourcePath;
        QList<const BlockDevice*> chain;
        QList<const BlockDevice*> ancestors;
        for (const BlockDevice& root : *tree)
            collectAncestors(root, holderNames, chain, ancestors);
        QString image;
        for (const BlockDevice* device : ancestors) {
            if (isNamed(*device, sourceNames))
                return sourcePath;
            if (device->type == QStringLiteral("loop") && !device->backingFile.isEmpty())
                image = device->backingFile;
        }
        if (image.isEmpty())
            return std::nullopt;
        // The save location is inside a mounted image: that image is where it is written.
        if (!(namesOf(image) & sourceNames).isEmpty())
            return sourcePath;
        holderOf = image;
    }
    return std::nullopt;
}

} // namespace vellorin
