#pragma once

#include "CollectionFiles.h"
#include "PreviewPane.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class AppContext;
class QAction;
class QFileSystemModel;
class QListWidget;
class QMenu;
class QModelIndex;
class QSplitter;
class QToolBar;
class QToolButton;
class QTreeView;
class ThumbnailFiller;

// The collection viewer: a folder tree, the chosen folder's files and a preview pane, with open,
// copy, move and delete of the selected files. It lives for the whole run; closing only hides it.
class CollectionViewer : public QWidget
{
    Q_OBJECT
public:
    // FloatingWindow is the main window that the view command hides (may be null).
    explicit CollectionViewer(AppContext& context, QWidget* floatingWindow = nullptr,
                              QWidget* parent = nullptr);
    ~CollectionViewer() override;

    // The view command: the floating window hides, the viewer shows in front (maximised when it
    // was minimised).
    void ShowViewer();
    // The tray's restore step: a minimised viewer comes back maximised and in front; otherwise
    // nothing happens.
    void RestoreStep();

    // Opens a ".col" palette file in a new colour picker owned by Owner and shows it; false when
    // no picker stays: *ioError empty means the file is no palette file, else it says why the
    // file could not be read. Unset, palette files open like any other file.
    std::function<bool(QWidget* owner, const QString& path, QString* ioError)> openPalette;
    // Where the desktop has no tray icon to bring the floating window back, closing the viewer
    // shows it again. Replaceable for tests.
    std::function<bool()> trayAvailable;

    // Event handlers.
    void FormShow();
    void ApplyLanguage();
    void FolderTreeChange();
    void FileListBoxClick();
    void FileListBoxDblClick();
    // True when the key was handled (Delete).
    bool FileListBoxKeyDown(int key);
    void ac_BrowseExecute();
    void ac_CopyExecute();
    void ac_MoveExecute();
    void ac_DeleteExecute();
    void ac_GoHomeExecute();
    void UpdateFileActions();
    void btn_ExitClick();
    void CopyOrMoveSelected(bool copy);

    // The folder tree: selects a folder (opening the way to it); the selected folder's path, empty
    // when the selection is no folder on disk.
    bool SelectTreeFolder(const QString& path);
    QString SelectedTreeFolder() const;
    // The file list: shows a folder's files (an empty path changes nothing) and answers about
    // them.
    void ShowListFolder(const QString& path);
    QString ListFolder() const { return m_listFolder; }
    // The folder the last copy or move went to, ending in "/"; empty until the first one.
    QString LastTargetFolder() const { return m_lastTargetFolder; }
    QString FocusedFile() const;
    int SelCount() const;
    QStringList SelectedNames() const;
    QStringList ListedNames() const;
    void RereadList();

    QSplitter* pnl_Main;
    QSplitter* pnl_Left;
    QTreeView* FolderTree;
    QFileSystemModel* FolderModel;
    QListWidget* FileListBox;
    QWidget* pnl_Right;
    QToolBar* ToolBar;
    PreviewPane* Preview;
    QAction* ac_Browse;
    QAction* ac_Copy;
    QAction* ac_Move;
    QAction* ac_Delete;
    QAction* ac_GoHome;
    QToolButton* btn_View;
    QToolButton* btn_Copy;
    QToolButton* btn_Move;
    QToolButton* btn_Delete;
    QToolButton* btn_GoHome;
    QToolButton* btn_Exit;
    QMenu* pm_FileList;
    // Fills in the pictures' thumbnails after the list is shown.
    ThumbnailFiller* Thumbnails;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* AddToolButton(const QString& name, QAction* action);
    void ReportFailures(const QString& key, const QList<FileFailure>& failures);
    void CollapseBelow(const QModelIndex& index);
    // The tree starts at the collection: its folder is the one top item.
    void RootTreeAtCollection();
    void HideTreeSiblings(const QModelIndex& parent, int first, int last);
    void FillList(const QString& folder);
    QList<FileFailure> RunWithProgress(FileOperation operation, QAction* action,
                                       const QString& folder, const QStringList& names,
                                       const QString& targetFolder);

    AppContext& m_context;
    QPointer<QWidget> m_floatingWindow;
    QString m_listFolder;
    QString m_lastTargetFolder;
    QString m_treeRoot;
    bool m_filling = false;
};
