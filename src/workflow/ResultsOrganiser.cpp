#include "workflow/ResultsOrganiser.h"

#include "platform/ExifDate.h"
#include "platform/FileSystem.h"
#include "workflow/PathJoin.h"
#include "workflow/SearchRecord.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <map>
#include <vector>

#include <sys/stat.h>

namespace vellorin {

namespace {

const QByteArray kJournalHeader = QByteArrayLiteral("vellorin sorting journal 1");
const QString kDeletedFiles = QStringLiteral("Deleted files");
const QString kDuplicates = QStringLiteral("Duplicates");
const QString kUndated = QStringLiteral("Undated");

QByteArray stateWord(ResultsOrganiser::State state) {
    switch (state) {
    case ResultsOrganiser::State::Sorting:
        return "sorting";
    case ResultsOrganiser::State::Sorted:
        return "sorted";
    case ResultsOrganiser::State::Undoing:
        return "undoing";
    case ResultsOrganiser::State::None:
        break;
    }
    return "none";
}

// A path of ours below the recovery folder: relative, no empty, "." or ".." part. The journal
// lies in a private folder, but a path read back must still never lead outside.
bool isInside(const QString& relative) {
    if (relative.isEmpty() || relative.startsWith(QLatin1Char('/')))
        return false;
    const QStringList parts = relative.split(QLatin1Char('/'));
    return std::none_of(parts.cbegin(), parts.cend(), [](const QString& part) {
        return part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..");
    });
}

QString parentOf(const QString& relative) {
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : relative.left(slash);
}

// "IMG_0001.JPG" → ("IMG_0001", ".jpg"); the ending is the engine's, lower-cased.
std::pair<QString, QString> splitEnding(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return {name, QString()};
    return {name.left(dot), name.mid(dot).toLower()};
}

// One file of the engine's output, in the order the engine carved it.
struct Carved {
    int folder = 0;     // N of recup_dir.N
    qint64 number = -1; // the sector in "f0123456.jpg"; -1 for names not of that form
    QString name;
    QString relative;
    qint64 size = 0;
};

class ListVisitor final : public WalkVisitor {
  public:
    ListVisitor(FileSystem& fileSystem, bool flat) : fileSystem_(fileSystem), flat_(flat) {}
    void visitFile(const WalkEntry& entry) override {
        if (entry.isSymlink || (flat_ && entry.relativePath.find('/') != std::string_view::npos))
            return;
        const auto info = fileSystem_.statEntry(entry);
        const auto* stat = std::get_if<EntryStat>(&info);
        if (!stat || !S_ISREG(stat->mode))
            return;
        files.push_back({QFile::decodeName(QByteArray(entry.relativePath.data(),
                                                      static_cast<qsizetype>(entry.relativePath.size()))),
                         stat->size});
    }
    void folderError(std::string_view, const Error&) override {}
    void entryError(std::string_view, const Error&) override {}

    std::vector<std::pair<QString, qint64>> files;

  private:
    FileSystem& fileSystem_;
    bool flat_;
};

} // namespace

qint64 ResultsOrganiser::Summary::sortedTotal() const {
    qint64 total = 0;
    for (const qint64 n : sorted)
        total += n;
    return total;
}

ResultsOrganiser::ResultsOrganiser(FileSystem& fileSystem, QString recoveryDirectory)
    : fileSystem_(fileSystem), directory_(std::move(recoveryDirectory)) {}

QString ResultsOrganiser::journalPathIn(const QString& recoveryDirectory) {
    return joinPath(joinPath(recoveryDirectory, SearchRecord::kWorkingFolder),
                    QStringLiteral("sorting.journal"));
}

bool ResultsOrganiser::hasUnsortedFiles() {
    class FirstFile final : public WalkVisitor {
      public:
        void visitFile(const WalkEntry& entry) override {
            found = found || (!entry.isSymlink && entry.relativePath.find('/') == std::string_view::npos);
        }
        void folderError(std::string_view, const Error&) override {}
        void entryError(std::string_view, const Error&) override {}
        bool walkEnded() const override { return found; }
        bool found = false;
    };
    for (const QString& folder : fileSystem_.childFolders(directory_)) {
        if (!isEngineFolderName(folder))
            continue;
        FirstFile visitor;
        fileSystem_.walk(absolute(folder), WalkOptions{}, visitor);
        if (visitor.found)
            return true;
    }
    return false;
}

bool ResultsOrganiser::isEngineFolderName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^recup_dir\\.([1-9][0-9]{0,8})$"));
    return pattern.match(name).hasMatch();
}

QString ResultsOrganiser::absolute(const QString& relative) const {
    return joinPath(directory_, relative);
}

std::optional<ResultsOrganiser::Journal> ResultsOrganiser::readJournal() {
    // Two paths of a hundred bytes for each of a million files.
    const auto read = fileSystem_.readSmallFile(journalPathIn(directory_), qint64(1) << 30);
    const auto* data = std::get_if<QByteArray>(&read);
    if (!data)
        return std::nullopt;
    const QList<QByteArray> lines = data->split('\n');
    if (lines.size() < 2 || lines.at(0) != kJournalHeader)
        return std::nullopt;
    Journal journal;
    const QByteArray& state = lines.at(1);
    if (state == "state sorting")
        journal.state = State::Sorting;
    else if (state == "state sorted")
        journal.state = State::Sorted;
    else if (state == "state undoing")
        journal.state = State::Undoing;
    else
        return std::nullopt;
    journal.moves.reserve(lines.size() - 2);
    for (qsizetype i = 2; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const QList<QByteArray> fields = lines.at(i).split(' ');
        if (fields.size() != 2)
            return std::nullopt;
        Move move{QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(0))),
                  QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(1)))};
        if (!isInside(move.from) || !isInside(move.to))
            return std::nullopt;
        journal.moves.append(std::move(move));
    }
    return journal;
}

std::optional<Error> ResultsOrganiser::writeJournal(const Journal& journal) {
    QByteArray data = kJournalHeader + "\nstate " + stateWord(journal.state) + '\n';
    for (const Move& move : journal.moves)
        data +=
            move.from.toUtf8().toPercentEncoding("/") + ' ' + move.to.toUtf8().toPercentEncoding("/") + '\n';
    return fileSystem_.writeAtomically(journalPathIn(directory_), data);
}

ResultsOrganiser::State ResultsOrganiser::state() {
    const auto journal = readJournal();
    return journal ? journal->state : State::None;
}

void ResultsOrganiser::count(const Move& move, Summary& summary) {
    const QString top = move.to.section(QLatin1Char('/'), 0, 0);
    if (top == kDuplicates) {
        ++summary.duplicates;
        return;
    }
    for (std::size_t i = 0; i < kAllFileKinds.size(); ++i)
        if (kindName(kAllFileKinds[i]) == top)
            ++summary.sorted[i];
}

void ResultsOrganiser::replay(const QList<Move>& moves, bool backward, Summary& summary,
                              const Progress& progress) {
    QSet<QString> madeFolders;
    const qint64 total = moves.size();
    qint64 done = 0;
    for (const Move& move : moves) {
        const QString& fromRelative = backward ? move.to : move.from;
        const QString& toRelative = backward ? move.from : move.to;
        const QString from = absolute(fromRelative), to = absolute(toRelative);
        if (++done % 64 == 0 && progress)
            progress(done, total);
        // Made before a run was cut short, or never possible: either way nothing to do now.
        if (!fileSystem_.entryExists(from) || fileSystem_.entryExists(to))
            continue;
        const QString folder = parentOf(toRelative);
        if (!folder.isEmpty() && !madeFolders.contains(folder)) {
            if (fileSystem_.createDirectories(absolute(folder))) {
                ++summary.failed;
                continue;
            }
            madeFolders.insert(folder);
        }
        if (fileSystem_.moveItem(from, to)) {
            ++summary.failed;
            continue;
        }
        count(move, summary);
        summary.moves.append(Move{from, to});
    }
    if (progress)
        progress(total, total);
}

void ResultsOrganiser::removeEmptyEngineFolders(const QList<Move>& moves) {
    // Only folders that held a file moved now, and only when nothing is left in them: the
    // user's own files there keep their folder.
    QSet<QString> folders;
    for (const Move& move : moves)
        folders.insert(parentOf(move.from));
    for (const QString& folder : folders)
        if (isEngineFolderName(folder))
            fileSystem_.removeEmptyFolder(absolute(folder));
}

void ResultsOrganiser::removeEmptySortedFolders(const QList<Move>& moves) {
    QSet<QString> folders;
    for (const Move& move : moves)
        for (QString folder = parentOf(move.to); !folder.isEmpty(); folder = parentOf(folder))
            folders.insert(folder);
    // Deepest first, so that Pictures/2023 goes before Pictures.
    QStringList ordered(folders.cbegin(), folders.cend());
    std::sort(ordered.begin(), ordered.end(), [](const QString& a, const QString& b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    for (const QString& folder : ordered)
        fileSystem_.removeEmptyFolder(absolute(folder));
}

ResultsOrganiser::Summary ResultsOrganiser::settle() {
    Summary summary;
    const auto journal = readJournal();
    if (!journal)
        return summary;
    if (journal->state == State::Sorting) {
        replay(journal->moves, false, summary, {});
        removeEmptyEngineFolders(journal->moves);
        summary.error = writeJournal(Journal{State::Sorted, journal->moves});
    } else if (journal->state == State::Undoing) {
        replay(journal->moves, true, summary, {});
        removeEmptySortedFolders(journal->moves);
        summary.error = fileSystem_.removeItem(journalPathIn(directory_));
    }
    return summary;
}

QList<ResultsOrganiser::Move> ResultsOrganiser::plan(const Progress& progress, const QList<Move>& earlier) {
    static const QRegularExpression carvedName(QStringLiteral("^f([0-9]{1,18})"));
    std::vector<Carved> carved;
    for (const QString& folder : fileSystem_.childFolders(directory_)) {
        if (!isEngineFolderName(folder))
            continue;
        ListVisitor visitor(fileSystem_, true);
        if (fileSystem_.walk(absolute(folder), WalkOptions{}, visitor))
            continue;
        for (auto& [name, size] : visitor.files) {
            const auto match = carvedName.match(name);
            carved.push_back(Carved{folder.mid(10).toInt(),
                                    match.hasMatch() ? match.captured(1).toLongLong() : -1, name,
                                    joinPath(folder, name), size});
        }
    }
    std::sort(carved.begin(), carved.end(), [](const Carved& a, const Carved& b) {
        if (a.folder != b.folder)
            return a.folder < b.folder;
        if (a.number != b.number)
            return a.number < b.number;
        return a.name < b.name;
    });
    if (carved.empty())
        return {};

    // Duplicates: only files of one size can be the same; those are read, and a digest's
    // match is confirmed byte for byte, since the media's bytes may have been made to collide.
    // The copy kept is one restored under its real name or sorted before, else the first the
    // engine carved.
    std::map<qint64, std::vector<int>> bySize; // index into carved; kept files as -1 - index
    QList<QString> restored;
    if (fileSystem_.isDirectory(absolute(kDeletedFiles))) {
        ListVisitor visitor(fileSystem_, false);
        fileSystem_.walk(absolute(kDeletedFiles), WalkOptions{}, visitor);
        for (auto& [relative, size] : visitor.files) {
            restored.append(joinPath(kDeletedFiles, relative));
            bySize[size].push_back(-1 - static_cast<int>(restored.size() - 1));
        }
    }
    // Files sorted by an earlier run stay where they are, like restored ones.
    if (!earlier.isEmpty())
        for (const FileKind kind : kAllFileKinds) {
            const QString folder = kindName(kind);
            if (!fileSystem_.isDirectory(absolute(folder)))
                continue;
            ListVisitor visitor(fileSystem_, false);
            fileSystem_.walk(absolute(folder), WalkOptions{}, visitor);
            for (auto& [relative, size] : visitor.files) {
                restored.append(joinPath(folder, relative));
                bySize[size].push_back(-1 - static_cast<int>(restored.size() - 1));
            }
        }
    for (std::size_t i = 0; i < carved.size(); ++i)
        bySize[carved[i].size].push_back(static_cast<int>(i));
    std::vector<bool> duplicate(carved.size(), false);
    for (auto& [size, members] : bySize) {
        if (size == 0 || members.size() < 2 ||
            std::none_of(members.cbegin(), members.cend(), [](int m) { return m >= 0; }))
            continue;
        // Restored files first (they are kept), then the engine's order.
        std::stable_sort(members.begin(), members.end(), [](int a, int b) { return (a < 0) && (b >= 0); });
        auto pathOf = [&](int member) {
            return absolute(member < 0 ? restored.at(-1 - member)
                                       : carved[static_cast<std::size_t>(member)].relative);
        };
        QHash<QByteArray, std::vector<int>> byDigest;
        std::vector<QByteArray> order;
        for (const int member : members) {
            const auto digest = fileSystem_.fastDigest(pathOf(member));
            if (const auto* value = std::get_if<QByteArray>(&digest)) {
                if (!byDigest.contains(*value))
                    order.push_back(*value);
                byDigest[*value].push_back(member);
            }
        }
        for (const QByteArray& digest : order) {
            const std::vector<int>& same = byDigest.value(digest);
            const QString kept = pathOf(same.front());
            for (std::size_t k = 1; k < same.size(); ++k) {
                if (same[k] < 0)
                    continue; // a restored file stays where it is, whatever it equals
                const auto equal = fileSystem_.sameContent(kept, pathOf(same[k]));
                if (const bool* yes = std::get_if<bool>(&equal); yes && *yes)
                    duplicate[static_cast<std::size_t>(same[k])] = true;
            }
        }
    }

    // Names already there (the user's or an earlier sort's) are never taken.
    QSet<QString> taken;
    auto freeName = [&](const QString& folder, const QString& stem, const QString& ending) {
        QString candidate = joinPath(folder, stem + ending);
        for (int n = 2; taken.contains(candidate) || fileSystem_.entryExists(absolute(candidate)); ++n)
            candidate = joinPath(folder, stem + QStringLiteral(" (%1)").arg(n) + ending);
        taken.insert(candidate);
        return candidate;
    };

    QList<Move> moves;
    moves.reserve(static_cast<qsizetype>(carved.size()));
    const auto total = static_cast<qint64>(carved.size());
    for (std::size_t i = 0; i < carved.size(); ++i) {
        if (progress && i % 64 == 0)
            progress(static_cast<qint64>(i), 2 * total);
        const Carved& file = carved[i];
        const auto [stem, ending] = splitEnding(file.name);
        QString folder;
        QString newStem = stem;
        if (duplicate[i]) {
            folder = kDuplicates;
        } else {
            const FileKind kind = kindOfName(file.name);
            folder = kindName(kind);
            if (kind == FileKind::Pictures) {
                const auto head = fileSystem_.readHead(absolute(file.relative), ExifDate::kHeadBytes);
                const auto* bytes = std::get_if<QByteArray>(&head);
                const std::optional<QDateTime> captured = bytes ? ExifDate::read(*bytes) : std::nullopt;
                if (captured) {
                    // Only digits of our own making reach the name: never the picture's text.
                    folder = joinPath(folder, QString::number(captured->date().year()));
                    newStem = captured->toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
                } else {
                    folder = joinPath(folder, kUndated);
                }
            }
        }
        moves.append(Move{file.relative, freeName(folder, newStem, ending)});
    }
    return moves;
}

ResultsOrganiser::Summary ResultsOrganiser::sort(const Progress& progress) {
    // What a run cut short left is finished first; only its failure is this run's to report.
    Summary summary;
    if ((summary.error = settle().error))
        return summary;
    // A search resumed after a sorting adds files to the engine's folders: they are sorted
    // beside the earlier ones, and one undo puts back both.
    const auto journal = readJournal();
    const QList<Move> earlier = journal && journal->state == State::Sorted ? journal->moves : QList<Move>();
    if (auto failed =
            fileSystem_.createPrivateDirectory(joinPath(directory_, SearchRecord::kWorkingFolder))) {
        summary.error = failed;
        return summary;
    }
    const QList<Move> moves = plan(progress, earlier);
    if (moves.isEmpty()) {
        if (!earlier.isEmpty()) {
            summary.error = Error::fromErrno(EEXIST);
            summary.error->description = QStringLiteral("The recovered files are sorted already.");
        }
        return summary;
    }
    // Written whole before the first move: a run cut short is completed from it.
    if (auto failed = writeJournal(Journal{State::Sorting, earlier + moves})) {
        summary.error = failed;
        return summary;
    }
    // The moves are the second half of the work.
    const qint64 planned = moves.size();
    replay(moves, false, summary, [&](qint64 done, qint64) {
        if (progress)
            progress(planned + done, 2 * planned);
    });
    removeEmptyEngineFolders(moves);
    summary.error = writeJournal(Journal{State::Sorted, earlier + moves});
    return summary;
}

ResultsOrganiser::Summary ResultsOrganiser::undo(const Progress& progress) {
    Summary summary;
    if ((summary.error = settle().error))
        return summary;
    const auto journal = readJournal();
    if (!journal || journal->state != State::Sorted)
        return summary;
    if (auto failed = writeJournal(Journal{State::Undoing, journal->moves})) {
        summary.error = failed;
        return summary;
    }
    QList<Move> reversed = journal->moves;
    std::reverse(reversed.begin(), reversed.end());
    replay(reversed, true, summary, progress);
    removeEmptySortedFolders(journal->moves);
    summary.error = fileSystem_.removeItem(journalPathIn(directory_));
    return summary;
}

QString ResultsOrganiser::sortedLine(const Summary& summary) {
    static const std::array<std::pair<const char*, const char*>, kAllFileKinds.size()> kWords{{
        {"picture", "pictures"},
        {"video", "videos"},
        {"audio file", "audio files"},
        {"document", "documents"},
        {"archive", "archives"},
        {"other file", "other files"},
    }};
    QStringList parts;
    for (std::size_t i = 0; i < kAllFileKinds.size(); ++i)
        if (const qint64 n = summary.sorted[i])
            parts.append(QStringLiteral("%1 %2").arg(n).arg(
                QLatin1String(n == 1 ? kWords[i].first : kWords[i].second)));
    const qint64 total = summary.sortedTotal();
    QString line = QStringLiteral("Sorted %1 %2")
                       .arg(total)
                       .arg(total == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    if (!parts.isEmpty())
        line += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    line += QStringLiteral("; %1 %2 set aside.")
                .arg(summary.duplicates)
                .arg(summary.duplicates == 1 ? QStringLiteral("duplicate") : QStringLiteral("duplicates"));
    if (summary.failed)
        line += QStringLiteral(" %1 could not be moved and stay where they were.").arg(summary.failed);
    return line;
}

QString ResultsOrganiser::undoneLine(const Summary& summary) {
    QString line = QStringLiteral("Sorting undone: %1 files are back where the search left them.")
                       .arg(summary.sortedTotal() + summary.duplicates);
    if (summary.failed)
        line += QStringLiteral(" %1 could not be moved back and stay where they were.").arg(summary.failed);
    return line;
}

} // namespace vellorin
