#pragma once

#include <QString>

namespace vellorin {

// A failure from the system or from the workflow, kept as a value: nothing throws across layers.
struct Error {
    QString domain;
    int code = 0;
    QString description;

    // The system's own wording for an errno value ("Permission denied", "No space left on device").
    static Error fromErrno(int errnum);
};

} // namespace vellorin
