#include "platform/desktop/FileDialogPanels.h"

#include <QApplication>
#include <QFileDialog>

namespace vellorin {

namespace {

// Qt's own dialog: the only one that honours "no new folders" for the source panel.
QFileDialog* makePanel(const PanelRequest& request, QFileDialog::FileMode mode) {
    auto* dialog = new QFileDialog(QApplication::activeWindow(), request.title, request.startFolder);
    dialog->setFileMode(mode);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    return dialog;
}

void showPanel(QFileDialog* dialog, std::function<void(std::optional<QString>)> completion) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, completion = std::move(completion)](int result) {
                         const QStringList chosen = dialog->selectedFiles();
                         if (result == QDialog::Accepted && !chosen.isEmpty())
                             completion(chosen.first());
                         else
                             completion(std::nullopt);
                     });
    dialog->show();
}

} // namespace

void FileDialogPanels::chooseFolder(const PanelRequest& request,
                                    std::function<void(std::optional<QString>)> completion) {
    QFileDialog* dialog = makePanel(request, QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    showPanel(dialog, std::move(completion));
}

void FileDialogPanels::chooseFile(const PanelRequest& request,
                                  std::function<void(std::optional<QString>)> completion) {
    QFileDialog* dialog = makePanel(request, QFileDialog::ExistingFile);
    dialog->setOption(QFileDialog::ReadOnly, true);
    dialog->setNameFilters(request.nameFilters);
    showPanel(dialog, std::move(completion));
}

} // namespace vellorin
