#pragma once

#include "CollectionFiles.h"

#include <QList>
#include <QPointer>
#include <QStackedWidget>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QAction;
class QFileSystemModel;
class QLabel;
class QListWidget;
class QMenu;
class QModelIndex;
class QPlainTextEdit;
class QSplitter;
class QTextBrowser;
class QToolBar;
class QToolButton;
class QTreeView;
class ImagePreview;
#ifdef NIMBRIL_HAVE_WEBENGINE
class QWebEngineView;
#endif

// The viewer's preview pane: an embedded web view where Qt WebEngine is built in, else an image
// view and a text view; Flash movies, which nothing here can play, get a plain note. It stays
// empty until the first preview and keeps its last document otherwise.
class PreviewPane : public QStackedWidget
{
    Q_OBJECT
public:
    enum class Shown
    {
        Nothing,
        Web,
        Image,
        Text,
        Html,
        Note
    };

    explicit PreviewPane(QWidget* parent = nullptr);

    // Shows the local file Path of the given class (photo, Flash movie, text or web page).
    void Navigate(const QString& path, FileClass cls);

    QString shownPath() const { return m_path; }
    Shown shown() const { return m_shown; }
    // The note's text while a note is shown.
    QString noteText() const;
    static bool HasWebEngine();

    // Text files larger than this are shown cut, so that a huge file cannot stall the window.
    static constexpr qint64 MaxTextBytes = 4 << 20;

private:
    void ShowNote(const QString& text);

    QString m_path;
    Shown m_shown = Shown::Nothing;
    QWidget* m_empty;
    QLabel* m_note;
#ifdef NIMBRIL_HAVE_WEBENGINE
    QWebEngineView* m_web = nullptr; // made at the first preview: starting the engine is costly
#else
    ImagePreview* m_image;
    QPlainTextEdit* m_text;
    QTextBrowser* m_html;
#endif
};

// The folder chooser of copy and move: starts at a folder, lets the user pick one or type one
// that does not exist yet, and creates it without asking.
namespace FolderChooser {

// The chosen (and existing) folder, or nothing when the user cancels.
std::optional<QString> Choose(QWidget* parent, const QString& title, const QString& startFolder);

// Test seam: while answers are preset, no dialog opens; each Choose takes the next answer as
// the text the user typed (nothing = Cancel; no answers left = Cancel) and records its start.
void PresetAnswers(const QList<std::optional<QString>>& typed);
void StopPresetting();
QStringList StartFolders();

} // namespace FolderChooser

// The collection viewer: a folder tree, the chosen folder's files and a preview pane, with open,
// copy, move and delete of the selected files. It lives for the whole run; closing only hides it.
class TForm_ViewStashet : public QWidget
{
    Q_OBJECT
public:
    // FloatingWindow is the main window that the view command hides (may be null).
    explicit TForm_ViewStashet(QWidget* floatingWindow = nullptr, QWidget* parent = nullptr);
    ~TForm_ViewStashet() override;

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
    void ShellTreeChange();
    void FileListBoxClick();
    void FileListBoxDblClick();
    // True when the key was handled (Delete).
    bool FileListBoxKeyDown(int key);
    void ac_BrowseExecute();
    void ac_CopyExecute();
    void ac_MoveExecute();
    void ac_DeleteExecute();
    void ac_GoHomeExecute();
    void ac_DeleteUpdate();
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
    QString FocusedFile() const;
    int SelCount() const;
    QStringList SelectedNames() const;
    QStringList ListedNames() const;
    void RereadList();

    QSplitter* pnl_Main;
    QSplitter* pnl_Left;
    QTreeView* ShellTree;
    QFileSystemModel* ShellTreeModel;
    QListWidget* FileListBox;
    QWidget* pnl_Right;
    QToolBar* ToolBar;
    PreviewPane* Browser;
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QToolButton* AddToolButton(const QString& name, QAction* action);
    void ReportFailures(const QString& key, const QList<FileFailure>& failures);
    void CollapseBelow(const QModelIndex& index);
    void FillList(const QString& folder);
    QList<FileFailure> RunWithProgress(FileOperation operation, QAction* action,
                                       const QString& folder, const QStringList& names,
                                       const QString& targetFolder);

    QPointer<QWidget> m_floatingWindow;
    QString m_listFolder;
    bool m_filling = false;
};
