#pragma once

#include "Browser.h"
#include "CaptureKind.h"
#include "FileCopy.h"

#include <QHash>
#include <QIcon>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <functional>

class AppContext;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QToolButton;
struct TextDrop;
struct PictureDrop;

// The floating window: two drop buttons at the right screen edge, the tray icon and the menu that
// carries every command. It lives for the whole run; closing it ends the program.
class FloatingWindow : public QWidget, public FolderCopyObserver
{
    Q_OBJECT
public:
    explicit FloatingWindow(AppContext& context, QWidget* parent = nullptr);
    ~FloatingWindow() override;

    // Start-up, once the context has read Config.ini: position and tray icon. The start may have
    // shown the icon already, before the windows were built; the window takes it over.
    void FormCreate(QSystemTrayIcon* shownIcon = nullptr);
    void SetDefaultPosition();
    void AddTrayIcon(QSystemTrayIcon* shownIcon = nullptr);
    // The program's tray icon, not yet connected to any window.
    static QSystemTrayIcon* MakeTrayIcon(QObject* parent = nullptr);

    // Tray icon presses. The left press brings back every window of ours, hidden or minimised;
    // a later start of the program asks for the same.
    void TrayLeftPress();
    void TrayRightPress(const QPoint& globalPos);
    // Rebuilds the menu's folders and captions; the menu does this whenever it is about to show.
    void PrepareMenu();

    void BuildOpenFolderMenu();
    void OpenFolderItemClick(QAction* item);
    void ApplyLanguage();
    // The current language's text for a key, or the English one when the file lacks it.
    QString Text(const QString& key, const QString& english) const;

    // Button mouse handling, positions in the button's coordinates.
    void btn_TextMouseDown(Qt::MouseButton button, const QPoint& pos);
    void btn_TextMouseMove(Qt::MouseButtons buttons, const QPoint& pos);
    void btn_TextMouseUp();
    void btn_PhotoMouseUp();
    // True while the window follows the pointer after a drag started on a button.
    bool isDragMoving() const { return m_dragMoving; }

    // Drops.
    void DropOnTextButton(const TextDrop& drop);
    void DropOnPhotoButton(const PictureDrop& picture);

    // Menu commands.
    void m_HideWindowClick();
    void m_ExitClick();
    void m_HelpContentClick();
    void m_AboutClick();
    void m_HomePageClick();
    void m_ReportBUGClick();
    void m_ViewStashetClick();
    void m_SaveColorClick();
    void m_SetupClick();
    void m_CloseAllIEClick();
    void RunCapture(CaptureKind kind, Scope scope);
    // Says in the tray that a capture ended, and how; a click on the message opens the folder.
    void NotifyCaptureEnd(int pages, const QString& folder, bool stopped);
    // Minimises the other programs' windows; ours stay up.
    void MinimizeAllWindows();
    // Whether a tray icon of ours is shown; without one nothing else brings a hidden window back.
    bool TrayShown() const;

    // Windows that other parts of the program attach: the viewer, its restore step, the colour
    // picker and the setup dialog. Unset ones say they are not available yet.
    std::function<void()> showViewer;
    std::function<void()> restoreViewer;
    std::function<void()> showColorPicker;
    std::function<void()> showSetup;
    // Shows the addresses an e-mail capture found, for saving and merging.
    std::function<void(const QStringList& emails)> showEMails;
    // The browser the capture commands read; null: none is connected.
    Browser* browser = nullptr;

    QToolButton* btn_Text;
    QToolButton* btn_Photo;
    QMenu* pm_Text;
    QMenu* m_OpenStashetMenu;
    QSystemTrayIcon* trayIcon = nullptr;
    QPoint DragStart;

    // The menu items by name ("m_Exit"), every captioned item of the menu.
    QAction* item(const QString& name) const { return m_items.value(name); }
    QStringList itemNames() const { return m_order; }

    static QString HomePageAddress();
    static QString BugReportAddress();

    // Folder copies of drops: progress and the question before a file is replaced.
    ReplaceAnswer askReplace(const QString& targetFile) override;
    void progress(int done, int total) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void BuildMenu();
    QAction* AddItem(QMenu* menu, const QString& name, const QString& caption, int image,
                     std::function<void()> handler);
    QMenu* AddSubmenu(QMenu* menu, const QString& name, const QString& caption, int image);
    // The menu image with this index, read once for every item that shows it.
    QIcon Image(int index);
    void Command(const std::function<void()>& body);
    void NotAvailableYet(const QString& what);
    void StartDragMove();

    AppContext& m_context;
    QHash<QString, QAction*> m_items;
    QHash<int, QIcon> m_images;
    QStringList m_order;
    bool m_dragMoving = false;
    QPoint m_moveOffset;
    // The windows Hide took away, for the tray's left press to show again.
    QList<QPointer<QWidget>> m_hiddenWindows;
    // The button the last press went to, and whether that press turned into a move: a release
    // is a click only on the button that was pressed and only when the window did not move.
    QPointer<QToolButton> m_pressedButton;
    bool m_dragged = false;
    class QProgressDialog* m_copyProgress = nullptr;
    // The folder the last capture notice names, opened when the notice is clicked.
    QString m_noticeFolder;
};

// The icon of the menu image with this index.
QIcon MenuImage(int index);
