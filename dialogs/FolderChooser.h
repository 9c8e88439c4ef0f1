#pragma once

#include <QDialog>
#include <QString>

class LanguageCatalogue;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QModelIndex;
class QTreeView;

// The folder chooser of copy and move: a folder tree to pick from and a line to type a folder
// into, which is created on OK when it does not exist yet. Reached through Prompts.
class FolderChooserDialog : public QDialog
{
    Q_OBJECT
public:
    FolderChooserDialog(QWidget* parent, const QString& title, const QString& start,
                        const LanguageCatalogue& language);

    QString chosen() const { return m_chosen; }
    void accept() override;

private:
    QFileSystemModel* m_model;
    QTreeView* m_tree;
    QLineEdit* m_edit;
    QLabel* m_error;
    QString m_chosen;
};

// Scrolls a folder tree to a folder, and again as its parents are read: the model reads folders
// in the background and sorts each when its entries are in, which moves the rows below.
void ScrollWhenLoaded(QFileSystemModel* model, QTreeView* tree, const QModelIndex& index);
