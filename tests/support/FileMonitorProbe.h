#pragma once

#include "workflow/ViewController.h"

namespace vellorin {

// Publishes lists as the output-folder monitor's tick and the simplified copy do, without
// either running.
class FileMonitorProbe {
  public:
    static void apply(RecoveryViewModel& model, QList<RecoveredFile> files) {
        model.applyRecoveredFiles(std::move(files));
    }
    static void prepend(RecoveryViewModel& model, RecoveredFile file) {
        model.prependRecoveredFile(std::move(file));
    }
};

} // namespace vellorin
