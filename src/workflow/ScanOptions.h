#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vellorin {

// Kinds of files a deep recovery can be limited to.
enum class FileFamily { Pictures, Videos, Audio, Documents, Archives };

// What a deep recovery looks for and where. The defaults (every kind the engine knows, the
// whole space) launch the engine script with its plain three arguments.
struct ScanOptions {
    // Empty: every kind the engine knows.
    QList<FileFamily> families;
    bool freeSpaceOnly = false;
    // Deleted files restored from the file system's records, with their names, before the
    // carver runs; carved copies of them are then removed.
    bool namesFirst = true;

    // The engine's search as it is with no options at all (the names step is not the engine's).
    bool isDefault() const { return families.isEmpty() && !freeSpaceOnly; }
    // The engine's own format names for these families, each once, in table order. A family
    // takes every format that can hold one of its kinds: "zip" also holds DOCX and ODT,
    // "riff" both AVI and WAV, "mov" HEIC pictures as well as films.
    QStringList engineFormats() const;
    // Put before the script's three arguments; none for the defaults.
    QStringList scriptArguments() const;

    static QStringList engineFormatsOf(FileFamily family);
    // Every format name of the table, each once: the ones the installed engine must know.
    static QStringList allEngineFormats();

    // As remembered across launches.
    QString familiesKey() const;
    static QList<FileFamily> familiesFromKey(const QString& key);

    friend bool operator==(const ScanOptions&, const ScanOptions&) = default;
};

} // namespace vellorin
