#include "workflow/SearchRecord.h"

#include "workflow/PathJoin.h"
#include "workflow/RecoveredFileScan.h"
#include "workflow/SearchProgress.h"

#include "platform/FileSystem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <variant>

namespace vellorin {
namespace {

constexpr int kVersion = 1;
constexpr qint64 kLargestRecord = 4 * 1024 * 1024;
constexpr qint64 kSector = 512;

QJsonArray toArray(const QStringList& list) {
    QJsonArray array;
    for (const QString& item : list)
        array.append(item);
    return array;
}

QStringList toList(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << item.toString();
    return list;
}

qint64 number(const QJsonObject& object, const char* key) {
    return static_cast<qint64>(object.value(QLatin1String(key)).toDouble());
}

} // namespace

QByteArray SearchRecord::toJson() const {
    QJsonArray runList;
    for (const Run& run : runs)
        runList.append(QJsonObject{{QStringLiteral("window"), static_cast<double>(run.window)},
                                   {QStringLiteral("foldersBefore"), toArray(run.foldersBefore)}});
    const QJsonObject object{
        {QStringLiteral("version"), kVersion},
        {QStringLiteral("source"), source},
        {QStringLiteral("size"), static_cast<double>(size)},
        {QStringLiteral("identity"), QString::fromLatin1(identity)},
        {QStringLiteral("options"), toArray(options)},
        {QStringLiteral("namesDone"), namesDone},
        {QStringLiteral("reached"), static_cast<double>(reached)},
        {QStringLiteral("blockSize"), static_cast<double>(blockSize)},
        {QStringLiteral("runs"), runList},
    };
    return QJsonDocument(object).toJson();
}

std::optional<SearchRecord> SearchRecord::fromJson(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    const QJsonObject object = document.object();
    if (!document.isObject() || object.value(QStringLiteral("version")).toInt() != kVersion)
        return std::nullopt;
    SearchRecord record;
    record.source = object.value(QStringLiteral("source")).toString();
    record.size = number(object, "size");
    record.identity = object.value(QStringLiteral("identity")).toString().toLatin1();
    record.options = toList(object.value(QStringLiteral("options")));
    record.namesDone = object.value(QStringLiteral("namesDone")).toBool();
    record.reached = std::max<qint64>(0, number(object, "reached"));
    record.blockSize = std::max<qint64>(0, number(object, "blockSize"));
    for (const QJsonValue& value : object.value(QStringLiteral("runs")).toArray()) {
        const QJsonObject run = value.toObject();
        record.runs.append(Run{std::max<qint64>(0, number(run, "window")),
                               toList(run.value(QStringLiteral("foldersBefore")))});
    }
    if (record.source.isEmpty() || record.size <= 0 || record.runs.isEmpty())
        return std::nullopt;
    return record;
}

QString SearchRecord::pathIn(const QString& recoveryDirectory) {
    return joinPath(joinPath(recoveryDirectory, kWorkingFolder), kFileName);
}

QString SearchRecord::progressPathIn(const QString& recoveryDirectory) {
    return joinPath(joinPath(recoveryDirectory, kWorkingFolder), kProgressName);
}

QString SearchRecord::lockPathIn(const QString& recoveryDirectory) {
    return joinPath(joinPath(recoveryDirectory, kWorkingFolder), kLockName);
}

std::optional<SearchRecord> SearchRecord::load(FileSystem& fileSystem, const QString& recoveryDirectory) {
    // Read only from a working folder of this user's own, never through a link planted there.
    if (fileSystem.createPrivateDirectory(joinPath(recoveryDirectory, kWorkingFolder)))
        return std::nullopt;
    const auto json = fileSystem.readSmallFile(pathIn(recoveryDirectory), kLargestRecord);
    if (!std::holds_alternative<QByteArray>(json))
        return std::nullopt;
    std::optional<SearchRecord> record = fromJson(std::get<QByteArray>(json));
    if (!record)
        return std::nullopt;
    const auto progress = fileSystem.readSmallFile(progressPathIn(recoveryDirectory), 4096);
    if (std::holds_alternative<QByteArray>(progress))
        if (const std::optional<ViewReport> report = ViewReport::parse(std::get<QByteArray>(progress)))
            if (report->size == record->size && report->window == record->runs.last().window)
                record->take(*report);
    return record;
}

std::optional<QString> SearchRecord::save(FileSystem& fileSystem, const QString& recoveryDirectory) const {
    if (auto error = fileSystem.createPrivateDirectory(joinPath(recoveryDirectory, kWorkingFolder)))
        return error->description;
    if (auto error = fileSystem.writeAtomically(pathIn(recoveryDirectory), toJson()))
        return error->description;
    return std::nullopt;
}

void SearchRecord::take(const ViewReport& report) {
    if (report.position)
        reached = std::max(reached, *report.position);
    if (report.blockSize > 0)
        blockSize = report.blockSize;
}

SearchResume::Offer SearchResume::assess(const std::optional<SearchRecord>& earlier,
                                         const SearchRecord& current) {
    Offer offer;
    if (!earlier || earlier->reached <= earlier->runs.first().window)
        return offer; // nothing of the main pass was read: nothing to pick up
    offer.share =
        std::clamp(static_cast<double>(earlier->reached) / static_cast<double>(earlier->size), 0.0, 1.0);
    offer.kind = Offer::Kind::StartOverOnly;
    if (earlier->source != current.source)
        return offer.reason = QStringLiteral("it searched %1").arg(earlier->source), offer;
    if (earlier->size != current.size || earlier->identity.isEmpty() ||
        earlier->identity != current.identity) {
        offer.reason =
            QStringLiteral("the source has changed since (its size or its first megabyte differs)");
        return offer;
    }
    if (earlier->options != current.options) {
        offer.reason =
            QStringLiteral("the kinds of files to look for or the space to search have changed since");
        return offer;
    }
    if (current.options.contains(QStringLiteral("--free-space"))) {
        // The engine tells free from used space by reading the file system at the start of the
        // source, which a window past it does not show.
        offer.reason = QStringLiteral("a search of the free space only cannot be picked up part way");
        return offer;
    }
    offer.kind = Offer::Kind::Resume;
    return offer;
}

qint64 SearchResume::windowStart(const SearchRecord& earlier, qint64 lastCarvedStart) {
    const qint64 block = earlier.blockSize > 0 ? earlier.blockSize : kSector;
    qint64 start = std::min(earlier.reached - kMargin, lastCarvedStart);
    start = std::clamp<qint64>(start, 0, std::max<qint64>(0, earlier.size - 1));
    return start / block * block;
}

QList<SearchResume::Carved> SearchResume::carvedFiles(FileSystem& fileSystem,
                                                      const QString& recoveryDirectory, Clock& clock,
                                                      const SearchRecord& earlier,
                                                      const QSet<QString>& foldersNow) {
    // The engine names each file after the sector it starts at: "f0012345.jpg", "f0012345_name.doc".
    static const QRegularExpression kName(QStringLiteral("^[a-z]([0-9]+)(?:[._]|$)"));
    QList<Carved> found;
    for (qsizetype i = 0; i < earlier.runs.size(); ++i) {
        const SearchRecord::Run& run = earlier.runs[i];
        const QSet<QString> before(run.foldersBefore.begin(), run.foldersBefore.end());
        QSet<QString> after = foldersNow;
        if (i + 1 < earlier.runs.size())
            after = QSet<QString>(earlier.runs[i + 1].foldersBefore.begin(),
                                  earlier.runs[i + 1].foldersBefore.end());
        for (const QString& folder : after - before) {
            for (const RecoveredFile& file :
                 scanRecoveredFiles(fileSystem, clock, joinPath(recoveryDirectory, folder))) {
                const QRegularExpressionMatch match = kName.match(file.name());
                bool ok = false;
                const qint64 sector = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
                if (ok)
                    found.append(Carved{file.path(), run.window + sector * kSector});
            }
        }
    }
    return found;
}

QString SearchResume::question(const QString& sourceName, const Offer& offer) {
    const QString percent =
        QStringLiteral("%1%").arg(std::min(99, static_cast<int>(std::floor(offer.share * 100))));
    if (offer.kind == Offer::Kind::Resume)
        return QStringLiteral("Resume the earlier search of %1? It had reached %2.").arg(sourceName, percent);
    return QStringLiteral("The earlier search of %1, which had reached %2, cannot be resumed: %3.")
        .arg(sourceName, percent, offer.reason);
}

} // namespace vellorin
