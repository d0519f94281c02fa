#pragma once

#include <QByteArray>
#include <QString>

#include <string>

namespace vellorin::test {

// Writes a file, making its folders; bytes keep a name that is not valid UTF-8 exact.
void writeBytes(const std::string& path, const QByteArray& bytes);
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const std::string& path);
std::string native(const QString& path);
// Every file below root (relative paths, sorted), hidden ones included.
QStringList listTree(const QString& root);

} // namespace vellorin::test
