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
        std::vector<RecoveredFile> files;
        files.push_back(std::move(file));
        model.prependRecoveredFiles(std::move(files));
    }
    // Oldest first, as a copy lists a batch.
    static void prepend(RecoveryViewModel& model, std::vector<RecoveredFile> files) {
        model.prependRecoveredFiles(std::move(files));
    }
};

} // namespace vellorin
