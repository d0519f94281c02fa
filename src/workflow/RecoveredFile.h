#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <cstdint>

namespace vellorin {

// One recovered file as listed in the window. Immutable; rows are identified by id, which
// is new for every record, even one made again for the same file.
class RecoveredFile {
  public:
    RecoveredFile() = default;
    RecoveredFile(QString name, QString path, std::int64_t size, QDateTime date)
        : id_(QUuid::createUuid()), name_(std::move(name)), path_(std::move(path)), size_(size),
          date_(std::move(date)) {}

    const QUuid& id() const { return id_; }
    const QString& name() const { return name_; }
    const QString& path() const { return path_; }
    std::int64_t size() const { return size_; }
    const QDateTime& date() const { return date_; }
    // The same file, and the same row, under another name: moved on disk by the user's wish.
    RecoveredFile movedTo(QString name, QString path) const {
        RecoveredFile moved = *this;
        moved.name_ = std::move(name);
        moved.path_ = std::move(path);
        return moved;
    }

  private:
    QUuid id_;
    QString name_;
    QString path_;
    std::int64_t size_ = 0;
    QDateTime date_;
};

} // namespace vellorin

Q_DECLARE_METATYPE(vellorin::RecoveredFile)
