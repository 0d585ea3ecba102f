#pragma once

#include <QString>

class QWidget;

// The folder picker of the configuration window.
namespace ModFolderDlg {

// The start folder of the last browse.
extern QString browseStartPath;

// Shows a folder dialog owned by `owner`, opened on `startPath` with `prompt` as its title, and
// returns the chosen folder's path, or "" when the operator cancels.
QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &prompt);

} // namespace ModFolderDlg
