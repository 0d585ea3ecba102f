#include "ModFolderDlg.h"

#include <QFileDialog>

namespace ModFolderDlg {

QString browseStartPath;

QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &prompt)
{
    if (!startPath.isEmpty())
        browseStartPath = startPath;
    QFileDialog dialog(owner, prompt, startPath);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    // Qt's own dialog shows the chosen folder's full path in its line edit as the choice
    // changes, and behaves the same on every platform the station runs on.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setObjectName(QStringLiteral("BrowseForFolder"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace ModFolderDlg
