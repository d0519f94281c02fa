#include "workflow/RecoverableExtensions.h"

#include <QFile>

#include <algorithm>

namespace vellorin {

namespace {

bool endsWithAny(std::string_view lowered) {
    return std::any_of(recoverableExtensions.begin(), recoverableExtensions.end(),
                       [&](std::string_view ending) { return lowered.ends_with(ending); });
}

} // namespace

bool isRecoverableName(std::string_view name, bool allFiles) {
    if (allFiles)
        return !name.empty() && name.front() != '.';
    constexpr std::size_t kLongestEnding = 5;
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        // The common case, without building a QString: ASCII lower-cases byte by byte.
        const std::size_t keep = std::min(name.size(), kLongestEnding);
        char tail[kLongestEnding];
        for (std::size_t i = 0; i < keep; ++i) {
            const char c = name[name.size() - keep + i];
            tail[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return endsWithAny(std::string_view(tail, keep));
    }
    // Unicode lower-casing can turn a non-ASCII letter into an ASCII one (the Kelvin sign
    // becomes "k"), so such names go through the full rules.
    const QByteArray lowered =
        QFile::decodeName(QByteArray(name.data(), static_cast<qsizetype>(name.size()))).toLower().toUtf8();
    return endsWithAny(std::string_view(lowered.constData(), static_cast<std::size_t>(lowered.size())));
}

} // namespace vellorin
