#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <string>

namespace vellorin::test {

// A tree read with directory descriptors only, so that names that are not valid UTF-8 and
// paths longer than PATH_MAX are read as they are.
struct RawEntry {
    char type = '?';    // f file, d folder, l link, p FIFO, s socket, c/b device
    QByteArray content; // a file's bytes or a link's target
    unsigned mode = 0;
    long long mtimeNs = 0;
};
using RawTree = std::map<std::string, RawEntry>; // by relative path, "/" between components

// Every entry below root; with skipHidden, names starting with "." and all below them are
// left out.
RawTree readRawTree(const QString& root, bool skipHidden = false);

// A digest of everything a run could change below root: names, types, modes, modification
// times, contents and link targets.
QByteArray treeDigest(const QString& root);

// Creates folders below root one component at a time (so beyond PATH_MAX) and writes a file
// at the end; returns false when any step fails.
bool writeDeepFile(const QString& root, const std::string& relativePath, const QByteArray& bytes);

} // namespace vellorin::test
