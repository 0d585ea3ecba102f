#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

// The folder picker of the configuration window.
namespace ModFolderDlg {

// The start folder of the last browse.
extern QString browseStartPath;

// Shows a folder dialog owned by `owner`, opened on `startPath`, with `prompt` above the folder
// tree, and returns the chosen folder's path, or "" when the operator cancels.
QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &prompt);

// The dialog BrowseForFolder shows: the prompt, the tree of folders from the file system's root,
// a status line with the full path of the folder selected, OK and Cancelar.
class FolderBrowseDialog : public QDialog
{
    Q_OBJECT

public:
    FolderBrowseDialog(QWidget *owner, const QString &startPath, const QString &prompt);

    // The folder selected; "" when none is.
    QString selectedFolder() const;

    QLabel *promptLabel;
    QTreeView *folders;
    QLabel *statusLine;
    QPushButton *okButton;
    QPushButton *cancelButton;

private:
    void showSelection();

    QFileSystemModel *model;
};

} // namespace ModFolderDlg
