#pragma once

#include "workflow/FileKinds.h"
#include "workflow/RecoveredFile.h"

#include <QList>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class QCollator;

namespace vellorin {

// Which recovered files a list shows and in what order; the list of record itself is never
// touched. Ties keep the recovered list's own order (newest first).
class ResultsQuery {
  public:
    enum class Order { Newest, Name, Size, Kind };

    std::optional<FileKind> kind; // none: every kind
    Order order = Order::Newest;
    QString text; // part of the name, any case

    bool isDefault() const { return !kind && order == Order::Newest && text.isEmpty(); }
    bool accepts(const RecoveredFile& file) const;

    // The files this query shows, in its order; with every kind's count over all files.
    struct Result {
        QList<RecoveredFile> files;
        std::array<qint64, kAllFileKinds.size()> kindCounts{};
    };
    Result run(const QList<RecoveredFile>& files) const;

    // Where a file that has just become the newest goes among rows already in this query's
    // order: before every row it does not come after.
    qsizetype insertionPoint(const QList<RecoveredFile>& rows, const RecoveredFile& file) const;

    bool operator==(const ResultsQuery& other) const {
        return kind == other.kind && order == other.order && text == other.text;
    }

    static QString orderName(Order order);

  private:
    // Strictly before: a total order but for ties, which the callers keep stable.
    bool before(const RecoveredFile& a, const RecoveredFile& b, const QCollator& collator) const;
};

} // namespace vellorin
