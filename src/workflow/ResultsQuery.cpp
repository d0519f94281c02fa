#include "workflow/ResultsQuery.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <vector>

namespace vellorin {

namespace {

// Names as people sort them: "IMG_2" before "IMG_10", case aside. One per thread, made once:
// a collator is costly to open, and a file arriving in Name order needs one on the main thread.
const QCollator& nameCollator() {
    thread_local const QCollator collator = [] {
        // The C locale collates by code point, capitals before everything: names would sort as
        // no one reads them. English rules stand in for it.
        QLocale locale;
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        QCollator made(locale);
        made.setNumericMode(true);
        made.setCaseSensitivity(Qt::CaseInsensitive);
        return made;
    }();
    return collator;
}

} // namespace

bool ResultsQuery::accepts(const RecoveredFile& file) const {
    if (kind && kindOfName(file.name()) != *kind)
        return false;
    return text.isEmpty() || file.name().contains(text, Qt::CaseInsensitive);
}

bool ResultsQuery::before(const RecoveredFile& a, const RecoveredFile& b, const QCollator& collator) const {
    switch (order) {
    case Order::Newest:
        return false; // the list's own order
    case Order::Name:
        return collator.compare(a.name(), b.name()) < 0;
    case Order::Size:
        return a.size() > b.size();
    case Order::Kind:
        return kindOfName(a.name()) < kindOfName(b.name());
    }
    return false;
}

ResultsQuery::Result ResultsQuery::run(const QList<RecoveredFile>& files) const {
    Result result;
    std::vector<qsizetype> shown;
    shown.reserve(static_cast<std::size_t>(files.size()));
    std::vector<FileKind> kinds(static_cast<std::size_t>(files.size()));
    for (qsizetype i = 0; i < files.size(); ++i) {
        const RecoveredFile& file = files.at(i);
        const FileKind fileKind = kindOfName(file.name());
        kinds[static_cast<std::size_t>(i)] = fileKind;
        ++result.kindCounts[static_cast<std::size_t>(fileKind)];
        if ((!kind || fileKind == *kind) &&
            (text.isEmpty() || file.name().contains(text, Qt::CaseInsensitive)))
            shown.push_back(i);
    }
    switch (order) {
    case Order::Newest:
        break;
    case Order::Name: {
        // Keys made once: comparing them is a byte comparison, not a collation each time.
        const QCollator& collator = nameCollator();
        std::vector<QCollatorSortKey> keys;
        keys.reserve(shown.size());
        for (const qsizetype i : shown)
            keys.push_back(collator.sortKey(files.at(i).name()));
        std::vector<std::size_t> order(shown.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return keys[a].compare(keys[b]) < 0; });
        std::vector<qsizetype> sorted;
        sorted.reserve(shown.size());
        for (const std::size_t k : order)
            sorted.push_back(shown[k]);
        shown = std::move(sorted);
        break;
    }
    case Order::Size:
        std::stable_sort(shown.begin(), shown.end(),
                         [&](qsizetype a, qsizetype b) { return files.at(a).size() > files.at(b).size(); });
        break;
    case Order::Kind:
        std::stable_sort(shown.begin(), shown.end(), [&](qsizetype a, qsizetype b) {
            return kinds[static_cast<std::size_t>(a)] < kinds[static_cast<std::size_t>(b)];
        });
        break;
    }
    result.files.reserve(static_cast<qsizetype>(shown.size()));
    for (const qsizetype i : shown)
        result.files.append(files.at(i));
    return result;
}

qsizetype ResultsQuery::insertionPoint(const QList<RecoveredFile>& rows, const RecoveredFile& file) const {
    if (order == Order::Newest)
        return 0;
    const QCollator& collator = nameCollator();
    // The newest file goes first among its equals, as the list's own order has it.
    const auto at = std::lower_bound(
        rows.cbegin(), rows.cend(), file,
        [&](const RecoveredFile& row, const RecoveredFile& value) { return before(row, value, collator); });
    return at - rows.cbegin();
}

QString ResultsQuery::orderName(Order order) {
    switch (order) {
    case Order::Newest:
        return QStringLiteral("Newest first");
    case Order::Name:
        return QStringLiteral("Name");
    case Order::Size:
        return QStringLiteral("Size (largest first)");
    case Order::Kind:
        return QStringLiteral("Kind");
    }
    return {};
}

} // namespace vellorin
