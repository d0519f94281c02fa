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
// costs eight bytes and one count, not eighty bytes and three.
class RecoveredFile {
  public:
    RecoveredFile() = default;
    RecoveredFile(QString name, QString path, std::int64_t size, QDateTime date)
        : d_(new Data{QUuid::createUuid(), std::move(name), std::move(path), size, std::move(date)}) {}

    const QUuid& id() const { return d_ ? d_->id : kEmpty.id; }
    const QString& name() const { return d_ ? d_->name : kEmpty.name; }
    const QString& path() const { return d_ ? d_->path : kEmpty.path; }
    std::int64_t size() const { return d_ ? d_->size : 0; }
    const QDateTime& date() const { return d_ ? d_->date : kEmpty.date; }
    // The same file, and the same row, under another name: moved on disk by the user's wish.
    RecoveredFile movedTo(QString name, QString path) const {
        RecoveredFile moved;
        moved.d_ = new Data{id(), std::move(name), std::move(path), size(), date()};
        return moved;
    }

  private:
    struct Data : QSharedData {
        Data(QUuid id, QString name, QString path, std::int64_t size, QDateTime date)
            : id(id), name(std::move(name)), path(std::move(path)), size(size), date(std::move(date)) {}
        QUuid id;
        QString name;
        QString path;
        std::int64_t size = 0;
        QDateTime date;
    };
    static inline const Data kEmpty{QUuid(), QString(), QString(), 0, QDateTime()};

    QExplicitlySharedDataPointer<const Data> d_;
};

} // namespace vellorin

Q_DECLARE_TYPEINFO(vellorin::RecoveredFile, Q_RELOCATABLE_TYPE);
Q_DECLARE_METATYPE(vellorin::RecoveredFile)
