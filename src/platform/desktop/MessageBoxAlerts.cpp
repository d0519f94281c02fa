#include "platform/desktop/MessageBoxAlerts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>

namespace vellorin {

int MessageBoxAlerts::runModal(const QString& title, const QString& message, const QStringList& buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(title);
    box.setText(title);
    box.setTextFormat(Qt::PlainText);
    // Messages carry paths and names read off disks, none of them markup; the box guesses the
    // format of this line by itself, so text it would take for markup is handed over escaped.
    box.setInformativeText(
        Qt::mightBeRichText(message) ? Qt::convertFromPlainText(message, Qt::WhiteSpaceNormal) : message);
    QList<QAbstractButton*> added;
    for (int i = 0; i < buttons.size(); ++i)
        added.append(
            box.addButton(buttons.at(i), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    if (!added.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    box.exec();
    return static_cast<int>(added.indexOf(box.clickedButton()));
}

} // namespace vellorin
