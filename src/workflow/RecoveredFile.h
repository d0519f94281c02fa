#pragma once

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QMetaType>
#include <QSharedData>
#include <QString>
#include <QUuid>

#include <cstdint>

namespace vellorin {

// One recovered file as listed in the window. Immutable; rows are identified by id, which
// is new for every record, even one made again for the same file.
//
// A record is one shared block behind a pointer: lists of a million of them are copied at
// every change (the monitor's list, the list's own rows, a query's snapshot), and a copy then
// costs eight bytes and one count, not eighty bytes and three. The path is kept as its folder,
// shared by every file in it, and the name: a million paths would take a hundred and fifty
// megabytes more.
class RecoveredFile {
  public:
    RecoveredFile() = default;
    RecoveredFile(QString name, const QString& path, std::int64_t size, QDateTime date)
        : d_(made(QUuid::createUuid(), std::move(name), path, size, std::move(date))) {}
    // A file of a folder already in hand, whose text it shares.
    static RecoveredFile inFolder(const QString& folder, QString name, std::int64_t size, QDateTime date) {
        RecoveredFile file;
        file.d_ = new Data(QUuid::createUuid(), folder, false, std::move(name), size, std::move(date));
        return file;
    }

    const QUuid& id() const { return d_ ? d_->id : kEmpty.id; }
    const QString& name() const { return d_ ? d_->name : kEmpty.name; }
    QString path() const {
        if (!d_)
            return {};
        if (d_->folderIsPath)
            return d_->folder;
        return d_->folder + QLatin1Char('/') + d_->name;
    }
    std::int64_t size() const { return d_ ? d_->size : 0; }
    const QDateTime& date() const { return d_ ? d_->date : kEmpty.date; }
    // The same file, and the same row, under another name: moved on disk by the user's wish.
    RecoveredFile movedTo(QString name, const QString& path) const {
        RecoveredFile moved;
        moved.d_ = made(id(), std::move(name), path, size(), date());
        return moved;
    }
    // Both are the very same record, not only the same file.
    bool isSameRecord(const RecoveredFile& other) const { return d_ == other.d_; }

  private:
    struct Data : QSharedData {
        Data(QUuid id, QString folder, bool folderIsPath, QString name, std::int64_t size, QDateTime date)
            : id(id), folder(std::move(folder)), name(std::move(name)), size(size), date(std::move(date)),
              folderIsPath(folderIsPath) {}
        QUuid id;
        QString folder; // the whole path instead when it does not end in "/" and the name
        QString name;
        std::int64_t size = 0;
        QDateTime date;
        bool folderIsPath = false;
    };
    static inline const Data kEmpty{QUuid(), QString(), false, QString(), 0, QDateTime()};

    static Data* made(QUuid id, QString name, const QString& path, std::int64_t size, QDateTime date) {
        const qsizetype folderLength = path.size() - name.size() - 1;
        if (folderLength >= 0 && path.endsWith(name) && path.at(folderLength) == QLatin1Char('/'))
            return new Data(id, path.left(folderLength), false, std::move(name), size, std::move(date));
        return new Data(id, path, true, std::move(name), size, std::move(date));
    }

    QExplicitlySharedDataPointer<const Data> d_;
};

} // namespace vellorin

Q_DECLARE_TYPEINFO(vellorin::RecoveredFile, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(vellorin::RecoveredFile)
