#include "ModFolderDlg.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ModFolderDlg {

QString browseStartPath;

FolderBrowseDialog::FolderBrowseDialog(QWidget *owner, const QString &startPath,
                                       const QString &prompt)
    : QDialog(owner)
    , promptLabel(new QLabel(prompt, this))
    , folders(new QTreeView(this))
    , statusLine(new QLabel(this))
    , model(new QFileSystemModel(this))
{
    setObjectName(QStringLiteral("BrowseForFolder"));
    setWindowTitle(QStringLiteral("Procurar pasta"));
    // Folder names are shown as written, whatever they look like.
    promptLabel->setTextFormat(Qt::PlainText);
    statusLine->setTextFormat(Qt::PlainText);
    promptLabel->setWordWrap(true);
    // A long path breaks anywhere rather than widening the dialog.
    statusLine->setWordWrap(true);
    statusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

    model->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    model->setRootPath(QDir::rootPath());
    folders->setModel(model);
    folders->setHeaderHidden(true);
    for (int column = 1; column < model->columnCount(); ++column)
        folders->hideColumn(column);
    connect(folders->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderBrowseDialog::showSelection);

    auto *buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    cancelButton = buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    okButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel);
    layout->addWidget(folders, 1);
    layout->addWidget(statusLine);
    layout->addWidget(buttons);
    resize(420, 460);

    // Opened on the start folder, its parents unfolded.
    if (!startPath.isEmpty()) {
        const QModelIndex start = model->index(startPath);
        folders->setCurrentIndex(start);
        folders->scrollTo(start, QAbstractItemView::PositionAtCenter);
    }
    showSelection();
}

QString FolderBrowseDialog::selectedFolder() const
{
    const QModelIndex current = folders->currentIndex();
    return current.isValid() ? QDir::cleanPath(model->filePath(current)) : QString();
}

void FolderBrowseDialog::showSelection()
{
    statusLine->setText(selectedFolder());
    okButton->setEnabled(!selectedFolder().isEmpty());
}

QString BrowseForFolder(QWidget *owner, const QString &startPath, const QString &prompt)
{
    if (!startPath.isEmpty())
        browseStartPath = startPath;
    FolderBrowseDialog dialog(owner, startPath, prompt);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFolder();
}

} // namespace ModFolderDlg
