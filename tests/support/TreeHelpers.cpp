#include "support/TreeHelpers.h"

#include <QDirIterator>
#include <QFile>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vellorin::test {

std::string native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

void writeBytes(const std::string& path, const QByteArray& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
}

void writeFile(const QString& path, const QByteArray& bytes) {
    writeBytes(native(path), bytes);
}

QByteArray readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return QByteArray(data.data(), static_cast<qsizetype>(data.size()));
}

QStringList listTree(const QString& root) {
    QStringList files;
    std::error_code ec;
    const std::filesystem::path base(native(root));
    for (auto it = std::filesystem::recursive_directory_iterator(base, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_directory(ec) || it->is_symlink(ec))
            files.append(
                QFile::decodeName(QByteArray::fromStdString(it->path().lexically_relative(base).string())));
    }
    files.sort();
    return files;
}

} // namespace vellorin::test
