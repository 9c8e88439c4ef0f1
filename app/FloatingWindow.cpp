#include "FloatingWindow.h"

#include "AppContext.h"
#include "CaptureRun.h"
#include "Drops.h"
#include "Errors.h"
#include "FormFace.h"
#include "ProgressWindow.h"

#include <QApplication>
#include <QBitmap>
#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QScreen>
#include <QShortcut>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWindow>

namespace {

constexpr int kFolderItemTag = 99;
constexpr int kDragThreshold = 3;

QToolButton* MakeButton(QWidget* parent, const QString& name, const QRect& geometry,
                        const QString& glyph)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    button->setIcon(QIcon(glyph));
    button->setIconSize(geometry.size() - QSize(6, 6));
    button->setAutoRaise(true);
    button->setAcceptDrops(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// Whether a top-level widget is one of the windows a user sees and can lose: menus, tooltips
// and the tray icon's own little window are not.
bool IsUserWindow(const QWidget* w)
{
    if (!w->isWindow() || w->inherits("QSystemTrayIconSys") ||
        w->windowFlags().testFlag(Qt::BypassWindowManagerHint))
        return false;
    const Qt::WindowType type = w->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

// Shows a window again, also when the window manager minimised it (show() alone leaves a
// minimised window where it is), keeping it maximised when it was.
void BringBack(QWidget* w)
{
    if (w->windowState() & Qt::WindowMinimized)
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

QIcon MenuImage(int index)
{
    return QIcon(QStringLiteral(":/nimbril/menu_%1.svg").arg(index, 2, 10, QLatin1Char('0')));
}

QString FloatingWindow::HomePageAddress()
{
    return QStringLiteral("https://nimbril.org/");
}

QString FloatingWindow::BugReportAddress()
{
    return QStringLiteral("bugs@nimbril.org");
}

FloatingWindow::FloatingWindow(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_context(context)
{
    setObjectName(QStringLiteral("Form_Main"));
    setWindowTitle(QStringLiteral("Nimbril"));
    setFixedSize(153, 142);
    PaintFormFace(this);
    setAcceptDrops(false);

    // The window's outline comes from the opaque part of its shape picture.
    QSvgRenderer shape(QStringLiteral(":/nimbril/window_shape.svg"));
    if (shape.isValid()) {
        QImage image(size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        shape.render(&painter, QRectF(0, 0, width(), height()));
        painter.end();
        setMask(QBitmap::fromImage(image.createAlphaMask()));
    }

    btn_Text = MakeButton(this, QStringLiteral("btn_Text"), QRect(-3, 3, 51, 52),
                          QStringLiteral(":/nimbril/btn_text.svg"));
    btn_Photo = MakeButton(this, QStringLiteral("btn_Photo"), QRect(-2, 63, 51, 52),
                           QStringLiteral(":/nimbril/btn_photo.svg"));
    btn_Text->installEventFilter(this);
    btn_Photo->installEventFilter(this);

    pm_Text = new QMenu(this);
    pm_Text->setObjectName(QStringLiteral("pm_Text"));
    BuildMenu();
    // Whoever shows the menu (a press here, the tray, a StatusNotifierItem host over D-Bus), it
    // shows the folders and captions of that moment.
    connect(pm_Text, &QMenu::aboutToShow, this, &FloatingWindow::PrepareMenu);
    connect(&m_context.language(), &LanguageCatalogue::changed, this,
            &FloatingWindow::ApplyLanguage);

    auto* closeAll = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F12), this);
    closeAll->setContext(Qt::WindowShortcut);
    connect(closeAll, &QShortcut::activated, this, [this] { m_CloseAllIEClick(); });
    auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this,
            [this] { TrayRightPress(mapToGlobal(QPoint(width() / 4, height() / 2))); });
}

FloatingWindow::~FloatingWindow()
{
    if (trayIcon)
        trayIcon->hide();
}

void FloatingWindow::FormCreate(QSystemTrayIcon* shownIcon)
{
    SetDefaultPosition();
    AddTrayIcon(shownIcon);
}

void FloatingWindow::SetDefaultPosition()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(area.x() + area.width() - 60, area.y() + area.height() - 180);
}

QSystemTrayIcon* FloatingWindow::MakeTrayIcon(QObject* parent)
{
    auto* icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/nimbril/nimbril.svg")), parent);
    icon->setToolTip(QStringLiteral("Nimbril"));
    return icon;
}

void FloatingWindow::AddTrayIcon(QSystemTrayIcon* shownIcon)
{
    if (!trayIcon) {
        if (shownIcon)
            shownIcon->setParent(this);
        trayIcon = shownIcon ? shownIcon : MakeTrayIcon(this);
        connect(trayIcon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // Many users double-click a tray icon; that brings the windows back too.
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        TrayLeftPress();
                    // The X11 tray has shown the menu by now; a host that asks for it
                    // (ContextMenu) without showing the exported one gets it at the pointer.
                    else if (reason == QSystemTrayIcon::Context && !pm_Text->isVisible())
                        TrayRightPress(QCursor::pos());
                });
        // A StatusNotifierItem host (KDE Plasma, GNOME's AppIndicator extension; the tray of
        // Wayland desktops) shows the menu the icon exports, as the program cannot place a
        // popup of its own beside a tray it knows nothing of.
        trayIcon->setContextMenu(pm_Text);
        connect(trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
            if (!m_noticeFolder.isEmpty())
                m_context.shell().open(m_noticeFolder);
        });
    }
    trayIcon->show();
}

void FloatingWindow::TrayLeftPress()
{
    for (const QPointer<QWidget>& w : std::as_const(m_hiddenWindows))
        if (w && w != this)
            w->show();
    m_hiddenWindows.clear();
    BringBack(this);
    if (restoreViewer)
        restoreViewer();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && IsUserWindow(w) && w->isVisible() && w->isMinimized())
            BringBack(w);
    // A modal window (the colour picker, a question) that another program's window buried
    // would otherwise leave every window of ours deaf to the user.
    if (QWidget* modal = QApplication::activeModalWidget())
        BringBack(modal);
}

bool FloatingWindow::TrayShown() const
{
    return trayIcon && trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void FloatingWindow::PrepareMenu()
{
    BuildOpenFolderMenu();
    ApplyLanguage();
}

void FloatingWindow::TrayRightPress(const QPoint& globalPos)
{
    activateWindow();
    pm_Text->popup(globalPos);
}

void FloatingWindow::BuildOpenFolderMenu()
{
    m_OpenStashetMenu->clear();
    QAction* urls = m_OpenStashetMenu->addAction(
        Image(1), Text(QStringLiteral("Form_Main.m_URLs.Caption"), QStringLiteral("URLs")));
    urls->setData(0);
    m_OpenStashetMenu->addSeparator();
    const QFileInfoList folders =
        QDir(m_context.paths().collectionRoot)
            .entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& folder : folders) {
        QString caption = folder.fileName();
        // A folder's own "&" is shown, not taken for an accelerator.
        caption.replace(u'&', QStringLiteral("&&"));
        QAction* entry = m_OpenStashetMenu->addAction(Image(1), caption);
        entry->setData(kFolderItemTag);
        entry->setProperty("folder", folder.fileName());
    }
}

void FloatingWindow::OpenFolderItemClick(QAction* entry)
{
    if (entry->data().toInt() == kFolderItemTag)
        m_context.shell().open(m_context.paths().collectionRoot +
                               entry->property("folder").toString());
    else
        m_context.shell().open(m_context.paths().favoritesDir);
}

QIcon FloatingWindow::Image(int index)
{
    auto known = m_images.constFind(index);
    if (known == m_images.constEnd())
        known = m_images.insert(index, MenuImage(index));
    return *known;
}

QString FloatingWindow::Text(const QString& key, const QString& english) const
{
    return m_context.language().text(key, english);
}

void FloatingWindow::ApplyLanguage()
{
    btn_Text->setToolTip(Text(QStringLiteral("Form_Main.btn_Text.Hint"),
                              QStringLiteral("Drop links, text or files here; click to view the "
                                             "collection")));
    btn_Photo->setToolTip(
        Text(QStringLiteral("Form_Main.btn_Photo.Hint"),
             QStringLiteral("Drop pictures here; click to open the Photo folder")));
    for (const QString& name : std::as_const(m_order))
        m_items.value(name)->setText(m_context.language().text(QStringLiteral("Form_Main.") + name +
                                                               QStringLiteral(".Caption")));
}

QAction* FloatingWindow::AddItem(QMenu* menu, const QString& name, const QString& caption,
                                 int image, std::function<void()> handler)
{
    QAction* action = menu->addAction(Image(image), caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { Command(handler); });
    m_items.insert(name, action);
    m_order << name;
    return action;
}

QMenu* FloatingWindow::AddSubmenu(QMenu* menu, const QString& name, const QString& caption,
                                  int image)
{
    QMenu* sub = menu->addMenu(Image(image), caption);
    sub->setObjectName(name);
    sub->menuAction()->setObjectName(name);
    m_items.insert(name, sub->menuAction());
    m_order << name;
    return sub;
}

void FloatingWindow::BuildMenu()
{
    QMenu* m = pm_Text;
    AddItem(m, QStringLiteral("m_HideWindow"), QStringLiteral("&Hide Nimbril"), 10,
            [this] { m_HideWindowClick(); });
    m->addSeparator();
    AddItem(m, QStringLiteral("m_ViewStashet"), QStringLiteral("&View Stashet"), 2,
            [this] { m_ViewStashetClick(); });
    m_OpenStashetMenu =
        AddSubmenu(m, QStringLiteral("m_OpenStashet"), QStringLiteral("&Open Folder"), 15);
    connect(m_OpenStashetMenu, &QMenu::triggered, this,
            [this](QAction* a) { Command([this, a] { OpenFolderItemClick(a); }); });
    m->addSeparator();
    AddItem(m, QStringLiteral("m_SaveCurrentPage"), QStringLiteral("Save &Current Web Page"), 21,
            [this] {
                MinimizeAllWindows();
                RunCapture(CaptureKind::WebPage, Scope::CurrentPage);
            });
    AddItem(m, QStringLiteral("m_SaveAllPages"), QStringLiteral("Save &All Open Web Pages"), 13,
            [this] {
                MinimizeAllWindows();
                RunCapture(CaptureKind::WebPage, Scope::AllPages);
            });
    // One submenu per harvested kind, in the table's order.
    for (const CaptureKindInfo& info : CaptureKinds()) {
        if (!info.menuItem)
            continue;
        const QString name = QString::fromLatin1(info.menuItem);
        const CaptureKind kind = info.kind;
        QMenu* sub = AddSubmenu(m, name, QString::fromLatin1(info.menuCaption), info.menuImage);
        AddItem(sub, name + QStringLiteral("Current"), QStringLiteral("Current Page"), 21,
                [this, kind] { RunCapture(kind, Scope::CurrentPage); });
        AddItem(sub, name + QStringLiteral("All"), QStringLiteral("All Open Page"), 13,
                [this, kind] { RunCapture(kind, Scope::AllPages); });
    }
    m->addSeparator();
    AddItem(m, QStringLiteral("m_SaveColor"), QStringLiteral("&Capture Screen color "), 3,
            [this] { m_SaveColorClick(); });
    AddItem(m, QStringLiteral("m_CloseAllIE"), QStringLiteral("Close All Browser Windows"), 23,
            [this] { m_CloseAllIEClick(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F12));
    m->addSeparator();
    AddItem(m, QStringLiteral("m_Setup"), QStringLiteral("&Setup"), 20, [this] { m_SetupClick(); });
    m->addSeparator();
    QMenu* help = AddSubmenu(m, QStringLiteral("m_Help"), QStringLiteral("&Help"), 22);
    AddItem(help, QStringLiteral("m_HelpContent"), QStringLiteral("&Help Content"), 24,
            [this] { m_HelpContentClick(); });
    AddItem(help, QStringLiteral("m_About"), QStringLiteral("&About..."), 12,
            [this] { m_AboutClick(); });
    help->addSeparator();
    AddItem(help, QStringLiteral("m_HomePage"), QStringLiteral("&Home Page"), 17,
            [this] { m_HomePageClick(); });
    AddItem(help, QStringLiteral("m_ReportBUG"), QStringLiteral("&Report BUG and Suggestion"), 19,
            [this] { m_ReportBUGClick(); });
    AddItem(m, QStringLiteral("m_Exit"), QStringLiteral("E&xit"), 14, [this] { m_ExitClick(); });
}

void FloatingWindow::Command(const std::function<void()>& body)
{
    // The application's error display: the command ends, the program goes on.
    try {
        body();
    } catch (const NimbrilError& e) {
        m_context.prompts().error(this, m_context.language().translate(e.message()));
    } catch (const std::exception& e) {
        m_context.prompts().error(this, QString::fromLocal8Bit(e.what()));
    }
}

void FloatingWindow::NotAvailableYet(const QString& what)
{
    m_context.prompts().information(this,
                                    what + QStringLiteral(" is not available yet in this version "
                                                          "of Nimbril."));
}

// ---- buttons --------------------------------------------------------------------------------

bool FloatingWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != btn_Text && watched != btn_Photo)
        return QWidget::eventFilter(watched, event);
    auto* button = static_cast<QToolButton*>(watched);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        m_dragMoving = false;
        m_dragged = false;
        m_pressedButton = button;
        if (button == btn_Text)
            btn_TextMouseDown(e->button(), e->position().toPoint());
        break;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (m_dragMoving) {
            move(e->globalPosition().toPoint() - m_moveOffset);
            return true;
        }
        // One press starts one move: moves that were queued before the window manager took
        // the pointer must not ask it again, or it goes on moving after the button is up.
        if (m_dragged)
            return true;
        btn_TextMouseMove(e->buttons(), e->position().toPoint());
        break;
    }
    case QEvent::MouseButtonRelease: {
        // After a move the window manager may hand the button a release of its own making; a
        // release that ends a move, or that no press on this button began, clicks nothing.
        const bool click = !m_dragged && m_pressedButton == button;
        m_dragMoving = false;
        m_dragged = false;
        m_pressedButton = nullptr;
        if (!click)
            return true;
        if (button == btn_Text)
            btn_TextMouseUp();
        else
            btn_PhotoMouseUp();
        break;
    }
    case QEvent::ContextMenu:
        return true; // a right release on a button is that button's click
    case QEvent::DragEnter: {
        auto* e = static_cast<QDragEnterEvent*>(event);
        const bool ok = button == btn_Text ? DecodeTextDrop(e->mimeData()).has_value()
                                           : DecodePictureDrop(e->mimeData()).has_value();
        if (ok)
            e->acceptProposedAction();
        else
            e->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        if (button == btn_Text) {
            if (const auto drop = DecodeTextDrop(e->mimeData()))
                DropOnTextButton(*drop);
        } else if (const auto picture = DecodePictureDrop(e->mimeData())) {
            DropOnPhotoButton(*picture);
        }
        e->acceptProposedAction();
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FloatingWindow::btn_TextMouseDown(Qt::MouseButton button, const QPoint& pos)
{
    if (button == Qt::LeftButton)
        DragStart = pos;
}

void FloatingWindow::btn_TextMouseMove(Qt::MouseButtons buttons, const QPoint& pos)
{
    if (!(buttons & Qt::LeftButton))
        return;
    if (qAbs(DragStart.x() - pos.x()) >= kDragThreshold ||
        qAbs(DragStart.y() - pos.y()) >= kDragThreshold)
        StartDragMove();
}

void FloatingWindow::StartDragMove()
{
    m_dragMoving = true;
    m_dragged = true;
    m_moveOffset = QCursor::pos() - pos();
    for (QToolButton* b : {btn_Text, btn_Photo})
        b->setDown(false);
    // The window manager moves the window where it can; elsewhere it follows the pointer.
    if (windowHandle() && windowHandle()->startSystemMove()) {
        m_dragMoving = false;
        if (QWidget* grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
    }
}

void FloatingWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragMoving)
        move(event->globalPosition().toPoint() - m_moveOffset);
    QWidget::mouseMoveEvent(event);
}

void FloatingWindow::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragMoving = false;
    QWidget::mouseReleaseEvent(event);
}

void FloatingWindow::btn_TextMouseUp()
{
    Command([this] { m_ViewStashetClick(); });
}

void FloatingWindow::btn_PhotoMouseUp()
{
    m_context.shell().open(m_context.paths().collectionFolder(FolderOf(CaptureKind::Photo)));
}

void FloatingWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // Where no tray exists this is how the menu opens; it works beside the tray too.
    TrayRightPress(event->globalPos());
}

// ---- drops ----------------------------------------------------------------------------------

void FloatingWindow::DropOnTextButton(const TextDrop& drop)
{
    Command([this, &drop] { Drops(m_context.paths(), this, browser).StoreTextDrop(drop); });
    delete m_copyProgress;
    m_copyProgress = nullptr;
}

void FloatingWindow::DropOnPhotoButton(const PictureDrop& picture)
{
    Command([this, &picture] {
        if (!Drops(m_context.paths(), nullptr).StorePictureDrop(picture))
            throw InOutError(m_context.paths().collectionFolder(FolderOf(CaptureKind::Photo)),
                             Text(QStringLiteral("C_PictureNotSaved"),
                                  QStringLiteral("the dropped picture could not be saved")));
    });
}

ReplaceAnswer FloatingWindow::askReplace(const QString& targetFile)
{
    switch (m_context.prompts().askYesNoCancel(
        this,
        Text(QStringLiteral("C_ReplaceFile"), QStringLiteral("%1 already exists. Replace it?"))
            .arg(targetFile),
        QMessageBox::Question)) {
    case Prompts::Answer::Yes:
        return ReplaceAnswer::Yes;
    case Prompts::Answer::No:
        return ReplaceAnswer::No;
    default:
        return ReplaceAnswer::Cancel;
    }
}

void FloatingWindow::progress(int done, int total)
{
    if (!m_copyProgress) {
        m_copyProgress = new QProgressDialog(
            Text(QStringLiteral("C_CopyingFiles"), QStringLiteral("Copying files...")), QString(),
            0, total, this);
        m_copyProgress->setWindowModality(Qt::WindowModal);
        m_copyProgress->setMinimumDuration(500);
        m_copyProgress->setCancelButton(nullptr);
    }
    m_copyProgress->setMaximum(total);
    m_copyProgress->setValue(done);
    QCoreApplication::processEvents();
}

void FloatingWindow::NotifyCaptureEnd(int pages, const QString& folder, bool stopped)
{
    if (!TrayShown())
        return;
    m_noticeFolder = folder;
    const QString done =
        pages == 1 ? Text(QStringLiteral("C_OnePage"), QStringLiteral("1 page"))
                   : Text(QStringLiteral("C_Pages"), QStringLiteral("%1 pages")).arg(pages);
    const QString text =
        (stopped ? Text(QStringLiteral("C_CaptureStopped"),
                        QStringLiteral("Stopped after %1; what was saved stays in %2. Click to "
                                       "open the folder."))
                 : Text(QStringLiteral("C_CaptureDone"),
                        QStringLiteral("%1 captured into %2. Click to open the folder.")))
            .arg(done, QDir::toNativeSeparators(folder));
    trayIcon->showMessage(QStringLiteral("Nimbril"), text, QSystemTrayIcon::Information, 8000);
}

// ---- commands -------------------------------------------------------------------------------

void FloatingWindow::m_HideWindowClick()
{
    // The tray icon stays: it is how the user gets the windows back.
    m_hiddenWindows.clear();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && IsUserWindow(w)) {
            m_hiddenWindows << w;
            w->hide();
        }
    }
}

void FloatingWindow::m_ExitClick()
{
    if (trayIcon)
        trayIcon->hide();
    close();
    QCoreApplication::quit();
}

void FloatingWindow::m_HelpContentClick()
{
    m_context.shell().open(m_context.paths().programDir + QStringLiteral("NimbrilApp.html"));
}

void FloatingWindow::m_AboutClick()
{
    const QString appText =
        m_context.language().text(QStringLiteral("C_NimbrilApp")) + QStringLiteral(" 1.1");
    const QString otherText = m_context.language().text(QStringLiteral("C_Author")) +
                              QStringLiteral("\r\r") +
                              m_context.language().text(QStringLiteral("C_HomePage")) +
                              QStringLiteral(": ") + HomePageAddress();
    QString shown = otherText;
    shown.replace(u'\r', u'\n');
    m_context.prompts().about(this, appText, appText + QStringLiteral("\n\n") + shown);
}

void FloatingWindow::m_HomePageClick()
{
    m_context.shell().open(HomePageAddress());
}

void FloatingWindow::m_ReportBUGClick()
{
    m_context.shell().open(QStringLiteral("mailto:") + BugReportAddress() +
                           QStringLiteral("?subject=") +
                           m_context.language().text(QStringLiteral("C_BUGReport")));
}

void FloatingWindow::m_ViewStashetClick()
{
    if (showViewer)
        showViewer();
    else
        NotAvailableYet(QStringLiteral("The collection viewer"));
}

void FloatingWindow::m_SaveColorClick()
{
    if (showColorPicker) {
        // The picker takes the floating window's place while it is open; where no tray icon
        // could bring the window back, it returns when the picker closes.
        hide();
        showColorPicker();
        if (!TrayShown())
            BringBack(this);
    } else
        NotAvailableYet(QStringLiteral("The colour picker"));
}

void FloatingWindow::m_SetupClick()
{
    if (showSetup)
        showSetup();
    else
        NotAvailableYet(QStringLiteral("The setup dialog"));
}

void FloatingWindow::MinimizeAllWindows()
{
    m_context.desktop().minimizeOtherWindows();
    // Where the desktop minimised ours too, they come back at once.
    if (isVisible() && isMinimized())
        BringBack(this);
}

void FloatingWindow::m_CloseAllIEClick()
{
    if (m_context.prompts().askYesNoCancel(
            this, m_context.language().text(QStringLiteral("C_CloseIE"))) != Prompts::Answer::Yes)
        return;
    MinimizeAllWindows();
    raise();
    CaptureRun(browser).closeAllBrowserWindows();
}

void FloatingWindow::RunCapture(CaptureKind kind, Scope scope)
{
    // The window and the engine belong to this command alone and go with it, also on failure.
    auto* progress = new ProgressWindow(m_context.language());
    progress->setAttribute(Qt::WA_DeleteOnClose);
    CaptureRun engine(browser);
    engine.classicPages = m_context.settings().classicPages();
    engine.keepScripts = m_context.settings().keepScripts();
    engine.displays = {progress->pageDisplay(), progress->fileDisplay(),
                       progress->urlDisplay(),  progress->pageBar(),
                       progress->totalBar(),    [progress] { return progress->stopRequested(); }};
    progress->show();
    const QString folder = m_context.paths().collectionFolder(FolderOf(kind));
    bool stopped = false;
    try {
        engine.capturePages(folder, scope, kind);
    } catch (const CaptureStopped&) {
        stopped = true; // what was saved stays; the run ends like a finished one
    } catch (...) {
        progress->finish();
        throw;
    }
    progress->finish();
    if (!engine.notSaved.isEmpty())
        m_context.prompts().warning(this,
                                    NotSavedText(engine.notSaved, 20, [this](const QString& key) {
                                        return m_context.language().text(key);
                                    }));
    NotifyCaptureEnd(engine.pagesCaptured, folder, stopped);
    if (kind == CaptureKind::EMail && !engine.emails.isEmpty() && showEMails)
        showEMails(engine.emails);
}
