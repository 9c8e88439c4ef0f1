#include "u_ViewCollection.h"

#include "FileNames.h"
#include "FormFace.h"
#include "MessageBox.h"
#include "ShellOpen.h"
#include "u_Language.h"
#include "u_Store.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <memory>

#ifdef NIMBRIL_HAVE_WEBENGINE
#include <QWebEngineView>
#endif

namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

QString WithoutAccelerator(const QString& caption)
{
    QString text = caption;
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(u'&');
    text.replace(u'\x01', u'&');
    return text;
}

// The folder model reads folders in the background and sorts each when its entries are in, which
// moves the rows below: the tree scrolls to the folder again as its parents arrive (if they come
// soon).
void ScrollWhenLoaded(QFileSystemModel* model, QTreeView* tree, const QModelIndex& index)
{
    tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    QStringList parents;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        parents << model->filePath(up);
    const auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(
        model, &QFileSystemModel::directoryLoaded, tree,
        [tree, parents, target = QPersistentModelIndex(index)](const QString& path) {
            if (parents.contains(path) && target.isValid() && tree->currentIndex() == target)
                tree->scrollTo(target, QAbstractItemView::PositionAtCenter);
        });
    QTimer::singleShot(3000, tree, [connection] { QObject::disconnect(*connection); });
}

// The answers a test has queued for the folder chooser.
struct ChooserSeam
{
    bool presetting = false;
    QList<std::optional<QString>> answers;
    QStringList starts;
};

ChooserSeam& chooserSeam()
{
    static ChooserSeam s;
    return s;
}

// The chooser's window: a folder tree to pick from and a line to type a folder into, which is
// created on OK when it does not exist yet.
class FolderChooserDialog : public QDialog
{
public:
    FolderChooserDialog(QWidget* parent, const QString& title, const QString& start)
        : QDialog(parent)
    {
        setWindowTitle(title);
        resize(420, 460);
        m_model = new QFileSystemModel(this);
        m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
        m_model->setRootPath(QDir::rootPath());
        m_tree = new QTreeView(this);
        m_tree->setModel(m_model);
        m_tree->setHeaderHidden(true);
        for (int column = 1; column < m_model->columnCount(); ++column)
            m_tree->hideColumn(column);
        m_edit = new QLineEdit(this);
        m_error = new QLabel(this);
        m_error->setWordWrap(true);
        m_error->setStyleSheet(QStringLiteral("color: #b00000"));
        m_error->hide();
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        const QString ok = Translate(QStringLiteral("btn_OK.Caption"));
        const QString cancel = Translate(QStringLiteral("btn_Cancel.Caption"));
        if (!ok.isEmpty())
            buttons->button(QDialogButtonBox::Ok)->setText(ok);
        if (!cancel.isEmpty())
            buttons->button(QDialogButtonBox::Cancel)->setText(cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, &FolderChooserDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_tree);
        layout->addWidget(m_edit);
        layout->addWidget(m_error);
        layout->addWidget(buttons);

        connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& current) {
                    if (current.isValid())
                        m_edit->setText(m_model->filePath(current));
                });
        const QModelIndex index = m_model->index(start);
        if (index.isValid()) {
            m_tree->setCurrentIndex(index);
            m_tree->expand(index);
            ScrollWhenLoaded(m_model, m_tree, index);
        }
        m_edit->setText(start);
        m_edit->setFocus();
    }

    QString chosen() const { return m_chosen; }

    void accept() override
    {
        const QModelIndex current = m_tree->currentIndex();
        const QString base =
            current.isValid() ? m_model->filePath(current) : ExistingFolderOrParent(m_edit->text());
        QString error;
        const QString folder = AcceptChosenFolder(m_edit->text(), base, &error);
        if (folder.isEmpty()) {
            // The user can correct the name or pick another folder.
            m_error->setText(error);
            m_error->show();
            return;
        }
        m_chosen = folder;
        QDialog::accept();
    }

private:
    QFileSystemModel* m_model;
    QTreeView* m_tree;
    QLineEdit* m_edit;
    QLabel* m_error;
    QString m_chosen;
};

} // namespace

// A picture scaled down to fit the pane, read at a bounded size so that a huge picture cannot
// exhaust memory.
class ImagePreview : public QLabel
{
public:
    explicit ImagePreview(QWidget* parent) : QLabel(parent)
    {
        setAlignment(Qt::AlignCenter);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        setMinimumSize(1, 1);
    }

    bool Load(const QString& path)
    {
        constexpr int MaxSide = 4096;
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > MaxSide || size.height() > MaxSide))
            reader.setScaledSize(size.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (image.isNull())
            return false;
        m_image = std::move(image);
        Rescale();
        return true;
    }

    bool hasPicture() const { return !m_image.isNull(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        Rescale();
    }

private:
    void Rescale()
    {
        if (m_image.isNull())
            return;
        const qreal ratio = devicePixelRatioF();
        const QSize room = size() * ratio;
        QImage shown = m_image;
        if (shown.width() > room.width() || shown.height() > room.height())
            shown = m_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmap pixmap = QPixmap::fromImage(shown);
        pixmap.setDevicePixelRatio(ratio);
        setPixmap(pixmap);
    }

    QImage m_image;
};

PreviewPane::PreviewPane(QWidget* parent) : QStackedWidget(parent)
{
    m_empty = new QWidget(this);
    m_note = new QLabel(this);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_note->setTextFormat(Qt::PlainText);
    addWidget(m_empty);
    addWidget(m_note);
#ifndef NIMBRIL_HAVE_WEBENGINE
    m_image = new ImagePreview(this);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_html = new QTextBrowser(this);
    // Saved pages are looked at, not browsed: links go nowhere from here.
    m_html->setOpenLinks(false);
    addWidget(m_image);
    addWidget(m_text);
    addWidget(m_html);
#endif
    setCurrentWidget(m_empty);
}

bool PreviewPane::HasWebEngine()
{
#ifdef NIMBRIL_HAVE_WEBENGINE
    return true;
#else
    return false;
#endif
}

QString PreviewPane::noteText() const
{
    return m_shown == Shown::Note ? m_note->text() : QString();
}

void PreviewPane::ShowNote(const QString& text)
{
    m_note->setText(text);
    setCurrentWidget(m_note);
    m_shown = Shown::Note;
}

void PreviewPane::Navigate(const QString& path, FileClass cls)
{
    m_path = path;
    const QString noPreview = Translate(QStringLiteral("C_NoPreview")) + QStringLiteral("\n\n") +
                              QFileInfo(path).fileName();
    if (cls == fcFlash) {
        // No Flash player exists any more, in a web view or elsewhere.
        ShowNote(noPreview);
        return;
    }
#ifdef NIMBRIL_HAVE_WEBENGINE
    if (!m_web) {
        m_web = new QWebEngineView(this);
        addWidget(m_web);
    }
    m_web->setUrl(QUrl::fromLocalFile(path));
    setCurrentWidget(m_web);
    m_shown = Shown::Web;
#else
    switch (cls) {
    case fcPhoto:
        if (!m_image->Load(path)) {
            ShowNote(noPreview);
            return;
        }
        setCurrentWidget(m_image);
        m_shown = Shown::Image;
        return;
    case fcText: {
        bool truncated = false;
        bool ok = false;
        const QString text = ReadPreviewText(path, MaxTextBytes, &truncated, &ok);
        if (!ok) {
            ShowNote(noPreview);
            return;
        }
        m_text->setPlainText(truncated ? text + QStringLiteral("\n…") : text);
        setCurrentWidget(m_text);
        m_shown = Shown::Text;
        return;
    }
    case fcWebPage: {
        const QUrl url = QUrl::fromLocalFile(path);
        if (m_html->source() == url)
            m_html->reload();
        else
            m_html->setSource(url, QTextDocument::HtmlResource);
        setCurrentWidget(m_html);
        m_shown = Shown::Html;
        return;
    }
    default:
        return;
    }
#endif
}

namespace FolderChooser {

std::optional<QString> Choose(QWidget* parent, const QString& title, const QString& startFolder)
{
    ChooserSeam& seam = chooserSeam();
    if (seam.presetting) {
        seam.starts << startFolder;
        if (seam.answers.isEmpty())
            return std::nullopt;
        const std::optional<QString> typed = seam.answers.takeFirst();
        if (!typed)
            return std::nullopt;
        QString error;
        const QString folder = AcceptChosenFolder(*typed, startFolder, &error);
        if (folder.isEmpty())
            return std::nullopt;
        return folder;
    }
    FolderChooserDialog dialog(parent, title, ExistingFolderOrParent(startFolder));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

void PresetAnswers(const QList<std::optional<QString>>& typed)
{
    chooserSeam().presetting = true;
    chooserSeam().answers = typed;
    chooserSeam().starts.clear();
}

void StopPresetting()
{
    chooserSeam() = ChooserSeam();
}

QStringList StartFolders()
{
    return chooserSeam().starts;
}

} // namespace FolderChooser

TForm_ViewStashet::TForm_ViewStashet(QWidget* floatingWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), m_floatingWindow(floatingWindow)
{
    setObjectName(QStringLiteral("Form_ViewStashet"));
    setWindowTitle(QStringLiteral("View Stashet"));
    PaintFormFace(this);
    trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    auto makeAction = [this](const char* name, const char* caption, const char* hint,
                             const QIcon& icon, void (TForm_ViewStashet::*handler)()) {
        auto* action = new QAction(icon, QString::fromUtf8(caption), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(QString::fromUtf8(hint));
        action->setStatusTip(QString::fromUtf8(hint));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    ac_Browse = makeAction("ac_Browse", "&Open with default viewer", "Open with default viewer",
                           ThemeIcon("document-open", QStyle::SP_DialogOpenButton),
                           &TForm_ViewStashet::ac_BrowseExecute);
    ac_Copy = makeAction("ac_Copy", "&Copy to...", "Copy selected files to other directory",
                         ThemeIcon("edit-copy", QStyle::SP_FileDialogNewFolder),
                         &TForm_ViewStashet::ac_CopyExecute);
    ac_Move = makeAction("ac_Move", "&Move to...", "Move selected files to other directory",
                         ThemeIcon("go-jump", QStyle::SP_ArrowForward),
                         &TForm_ViewStashet::ac_MoveExecute);
    ac_Delete = makeAction("ac_Delete", "&Delete files", "Delete selected files",
                           ThemeIcon("edit-delete", QStyle::SP_TrashIcon),
                           &TForm_ViewStashet::ac_DeleteExecute);
    ac_GoHome = makeAction("ac_GoHome", "&Go Home", "Go Collection directory",
                           ThemeIcon("go-home", QStyle::SP_DirHomeIcon),
                           &TForm_ViewStashet::ac_GoHomeExecute);

    // Left panel: the folder tree and the file list.
    ShellTreeModel = new QFileSystemModel(this);
    ShellTreeModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    ShellTreeModel->setRootPath(QDir::rootPath());
    ShellTree = new QTreeView;
    ShellTree->setObjectName(QStringLiteral("ShellTree"));
    ShellTree->setModel(ShellTreeModel);
    ShellTree->setHeaderHidden(true);
    ShellTree->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int column = 1; column < ShellTreeModel->columnCount(); ++column)
        ShellTree->hideColumn(column);
    connect(ShellTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ShellTreeChange(); });

    FileListBox = new QListWidget;
    FileListBox->setObjectName(QStringLiteral("FileListBox"));
    FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileListBox->setContextMenuPolicy(Qt::CustomContextMenu);
    FileListBox->setUniformItemSizes(true);
    FileListBox->installEventFilter(this);
    connect(FileListBox, &QListWidget::itemClicked, this, [this] { FileListBoxClick(); });
    connect(FileListBox, &QListWidget::currentItemChanged, this, [this] {
        // A mouse press is previewed by its click; this catches moves by keyboard.
        if (!m_filling && QGuiApplication::mouseButtons() == Qt::NoButton)
            FileListBoxClick();
    });
    connect(FileListBox, &QListWidget::itemDoubleClicked, this, [this] { FileListBoxDblClick(); });
    connect(FileListBox, &QListWidget::itemSelectionChanged, this, [this] { ac_DeleteUpdate(); });
    connect(FileListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pm_FileList->popup(FileListBox->viewport()->mapToGlobal(pos));
    });

    pnl_Left = new QSplitter(Qt::Horizontal);
    pnl_Left->setObjectName(QStringLiteral("pnl_Left"));
    pnl_Left->setHandleWidth(5);
    pnl_Left->setChildrenCollapsible(false);
    pnl_Left->addWidget(ShellTree);
    pnl_Left->addWidget(FileListBox);
    pnl_Left->setStretchFactor(0, 0);
    pnl_Left->setStretchFactor(1, 1);
    pnl_Left->setSizes({201, 388 - 201 - 5});

    // Right panel: the toolbar over the preview pane.
    ToolBar = new QToolBar;
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setFixedHeight(29);
    ToolBar->setIconSize(QSize(20, 20));
    ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    btn_View = AddToolButton(QStringLiteral("btn_View"), ac_Browse);
    ToolBar->addSeparator();
    btn_Copy = AddToolButton(QStringLiteral("btn_Copy"), ac_Copy);
    btn_Move = AddToolButton(QStringLiteral("btn_Move"), ac_Move);
    btn_Delete = AddToolButton(QStringLiteral("btn_Delete"), ac_Delete);
    ToolBar->addSeparator();
    btn_GoHome = AddToolButton(QStringLiteral("btn_GoHome"), ac_GoHome);
    ToolBar->addSeparator();
    btn_Exit = new QToolButton;
    btn_Exit->setObjectName(QStringLiteral("btn_Exit"));
    btn_Exit->setText(QStringLiteral("Exit"));
    btn_Exit->setToolTip(QStringLiteral("Close"));
    btn_Exit->setIcon(ThemeIcon("application-exit", QStyle::SP_DialogCloseButton));
    btn_Exit->setAutoRaise(true);
    connect(btn_Exit, &QToolButton::clicked, this, [this] { btn_ExitClick(); });
    ToolBar->addWidget(btn_Exit);

    Browser = new PreviewPane;
    Browser->setObjectName(QStringLiteral("Browser"));
    pnl_Right = new QWidget;
    pnl_Right->setObjectName(QStringLiteral("pnl_Right"));
    auto* rightLayout = new QVBoxLayout(pnl_Right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightLayout->addWidget(ToolBar);
    rightLayout->addWidget(Browser, 1);

    pnl_Main = new QSplitter(Qt::Horizontal);
    pnl_Main->setObjectName(QStringLiteral("pnl_Main"));
    pnl_Main->setHandleWidth(5);
    pnl_Main->setChildrenCollapsible(false);
    pnl_Main->addWidget(pnl_Left);
    pnl_Main->addWidget(pnl_Right);
    pnl_Main->setStretchFactor(0, 0);
    pnl_Main->setStretchFactor(1, 1);
    pnl_Main->setSizes({388, 677 - 388 - 5});

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pnl_Main);

    pm_FileList = new QMenu(this);
    pm_FileList->setObjectName(QStringLiteral("pm_FileList"));
    pm_FileList->addAction(ac_Browse);
    pm_FileList->addSeparator();
    pm_FileList->addAction(ac_Copy);
    pm_FileList->addAction(ac_Move);
    pm_FileList->addAction(ac_Delete);
    pm_FileList->addSeparator();
    pm_FileList->addAction(ac_GoHome);

    resize(677, 472);
    setWindowState(Qt::WindowMaximized);
    ac_DeleteUpdate();
}

TForm_ViewStashet::~TForm_ViewStashet() = default;

QToolButton* TForm_ViewStashet::AddToolButton(const QString& name, QAction* action)
{
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    ToolBar->addWidget(button);
    return button;
}

void TForm_ViewStashet::ShowViewer()
{
    if (m_floatingWindow)
        m_floatingWindow->hide();
    if (windowState() & Qt::WindowMinimized)
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void TForm_ViewStashet::RestoreStep()
{
    if (!(windowState() & Qt::WindowMinimized))
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void TForm_ViewStashet::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window system's own show (un-minimising) is no new showing: the user keeps his place.
    if (!event->spontaneous())
        FormShow();
}

void TForm_ViewStashet::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    // Without a tray icon nothing else could bring the floating window back.
    if (m_floatingWindow && trayAvailable && !trayAvailable())
        m_floatingWindow->show();
}

bool TForm_ViewStashet::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FileListBox && event->type() == QEvent::KeyPress &&
        FileListBoxKeyDown(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QWidget::eventFilter(watched, event);
}

void TForm_ViewStashet::FormShow()
{
    ApplyLanguage();
    FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ac_GoHomeExecute();
}

void TForm_ViewStashet::ApplyLanguage()
{
    setWindowTitle(Translate(QStringLiteral("Form_ViewStashet.Caption")));
    ac_Copy->setText(Translate(QStringLiteral("Form_ViewStashet.ac_Copy.Caption")));
    ac_Move->setText(Translate(QStringLiteral("Form_ViewStashet.ac_Move.Caption")));
    ac_Delete->setText(Translate(QStringLiteral("Form_ViewStashet.ac_Delete.Caption")));
    ac_GoHome->setText(Translate(QStringLiteral("Form_ViewStashet.ac_GoHome.Caption")));
    ac_Browse->setText(Translate(QStringLiteral("Form_ViewStashet.ac_Browse.Caption")));
    const auto setHint = [](QAction* action, const QString& hint) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    };
    setHint(ac_Copy, Translate(QStringLiteral("Form_ViewStashet.ac_Copy.Hint")));
    setHint(ac_Move, Translate(QStringLiteral("Form_ViewStashet.ac_Move.Hint")));
    setHint(ac_Delete, Translate(QStringLiteral("Form_ViewStashet.ac_Delete.Hint")));
    setHint(ac_GoHome, Translate(QStringLiteral("Form_ViewStashet.ac_GoHome.Hint")));
    setHint(ac_Browse, Translate(QStringLiteral("Form_ViewStashet.ac_Browse.Hint")));
    btn_Exit->setToolTip(Translate(QStringLiteral("Form_ViewStashet.btn_Exit.Hint")));
}

bool TForm_ViewStashet::SelectTreeFolder(const QString& path)
{
    const QString folder = QDir::cleanPath(path);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    const QModelIndex index = ShellTreeModel->index(folder);
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        ShellTree->expand(up);
    ShellTree->setCurrentIndex(index);
    ScrollWhenLoaded(ShellTreeModel, ShellTree, index);
    return true;
}

QString TForm_ViewStashet::SelectedTreeFolder() const
{
    const QModelIndex index = ShellTree->currentIndex();
    if (!index.isValid())
        return QString();
    const QString path = ShellTreeModel->filePath(index);
    return QFileInfo(path).isDir() ? path : QString();
}

void TForm_ViewStashet::CollapseBelow(const QModelIndex& index)
{
    for (int row = 0; row < ShellTreeModel->rowCount(index); ++row) {
        const QModelIndex child = ShellTreeModel->index(row, 0, index);
        if (ShellTree->isExpanded(child))
            CollapseBelow(child);
    }
    ShellTree->collapse(index);
}

void TForm_ViewStashet::ShowListFolder(const QString& path)
{
    if (path.isEmpty())
        return;
    m_listFolder = QDir::cleanPath(path);
    FillList(m_listFolder);
}

void TForm_ViewStashet::RereadList()
{
    if (!m_listFolder.isEmpty())
        FillList(m_listFolder);
}

void TForm_ViewStashet::FillList(const QString& folder)
{
    const QStringList names =
        QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    m_filling = true;
    FileListBox->setUpdatesEnabled(false);
    FileListBox->clear();
    for (const QString& name : names)
        FileListBox->addItem(new QListWidgetItem(icon, name));
    FileListBox->setUpdatesEnabled(true);
    m_filling = false;
    ac_DeleteUpdate();
}

QString TForm_ViewStashet::FocusedFile() const
{
    const QListWidgetItem* item = FileListBox->currentItem();
    if (!item || m_listFolder.isEmpty())
        return QString();
    return WithTrailingSlash(m_listFolder) + item->text();
}

int TForm_ViewStashet::SelCount() const
{
    return int(FileListBox->selectionModel()->selectedIndexes().size());
}

QStringList TForm_ViewStashet::SelectedNames() const
{
    QStringList names;
    for (int row = 0; row < FileListBox->count(); ++row) {
        const QListWidgetItem* item = FileListBox->item(row);
        if (item->isSelected())
            names << item->text();
    }
    return names;
}

QStringList TForm_ViewStashet::ListedNames() const
{
    QStringList names;
    for (int row = 0; row < FileListBox->count(); ++row)
        names << FileListBox->item(row)->text();
    return names;
}

void TForm_ViewStashet::ShellTreeChange()
{
    ShowListFolder(SelectedTreeFolder());
}

void TForm_ViewStashet::FileListBoxClick()
{
    const QString path = FocusedFile();
    if (path.isEmpty())
        return;
    const FileClass cls = ClassifyFile(path);
    if (IsPreviewedClass(cls))
        Browser->Navigate(path, cls);
}

void TForm_ViewStashet::FileListBoxDblClick()
{
    ac_BrowseExecute();
}

bool TForm_ViewStashet::FileListBoxKeyDown(int key)
{
    if (key != Qt::Key_Delete)
        return false;
    ac_DeleteExecute();
    return true;
}

void TForm_ViewStashet::ac_BrowseExecute()
{
    if (SelCount() == 0)
        return;
    const QString path = FocusedFile();
    if (path.isEmpty())
        return;
    if (IsPaletteFile(path) && openPalette) {
        QString ioError;
        if (openPalette(this, path, &ioError))
            return;
        if (ioError.isEmpty())
            MessageBox::Information(this, Translate(QStringLiteral("C_BadFileFormat")));
        else
            MessageBox::Error(this, ioError);
        return;
    }
    ShellOpen(path);
}

void TForm_ViewStashet::ac_CopyExecute()
{
    CopyOrMoveSelected(true);
}

void TForm_ViewStashet::ac_MoveExecute()
{
    CopyOrMoveSelected(false);
}

QList<FileFailure> TForm_ViewStashet::RunWithProgress(FileOperation operation, QAction* action,
                                                      const QString& folder,
                                                      const QStringList& names,
                                                      const QString& targetFolder)
{
    // Not modal: the user may go on using the window while files are handled.
    QProgressDialog progress(WithoutAccelerator(action->text()), QString(), 0, int(names.size()),
                             this);
    const QString cancel = Translate(QStringLiteral("btn_Cancel.Caption"));
    auto* cancelButton = new QPushButton(cancel.isEmpty() ? QStringLiteral("Cancel") : cancel);
    progress.setCancelButton(cancelButton);
    progress.setWindowModality(Qt::NonModal);
    progress.setWindowTitle(windowTitle());
    progress.setMinimumDuration(400);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    const FileProgress step = [&progress](int done, int) {
        progress.setValue(done);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    return RunFileOperation(operation, folder, names, targetFolder, step);
}

void TForm_ViewStashet::CopyOrMoveSelected(bool copy)
{
    if (SelCount() == 0)
        return;
    QAction* action = copy ? ac_Copy : ac_Move;
    if (!LastTargetFolder.isEmpty())
        QDir::setCurrent(LastTargetFolder);
    const QString start = LastTargetFolder.isEmpty() ? QDir::currentPath() : LastTargetFolder;
    const std::optional<QString> chosen =
        FolderChooser::Choose(this, WithoutAccelerator(action->text()), start);
    if (!chosen)
        return;
    SetLastTargetFolder(*chosen);

    const QString folder = m_listFolder;
    const QStringList names = SelectedNames();
    const QList<FileFailure> failures = RunWithProgress(
        copy ? FileOperation::Copy : FileOperation::Move, action, folder, names, LastTargetFolder);
    if (!copy)
        RereadList();
    if (failures.isEmpty())
        MessageBox::Information(this, Translate(QStringLiteral("C_CopyDone")));
    else
        ReportFailures(QStringLiteral("C_FilesNotDone"), failures);
}

void TForm_ViewStashet::ac_DeleteExecute()
{
    if (MessageBox::AskYesNoCancel(this, Translate(QStringLiteral("C_ConfirmDeleteFiles")),
                                   QMessageBox::Warning) != MessageBox::Answer::Yes)
        return;
    const QString folder = m_listFolder;
    const QStringList names = SelectedNames();
    const QList<FileFailure> failures =
        names.isEmpty()
            ? QList<FileFailure>()
            : RunWithProgress(FileOperation::Delete, ac_Delete, folder, names, QString());
    RereadList();
    if (!failures.isEmpty())
        ReportFailures(QStringLiteral("C_FilesNotDeleted"), failures);
}

void TForm_ViewStashet::ReportFailures(const QString& key, const QList<FileFailure>& failures)
{
    MessageBox::Warning(this, Translate(key) + QStringLiteral("\n\n") + DescribeFailures(failures));
}

void TForm_ViewStashet::ac_GoHomeExecute()
{
    const QModelIndex before = ShellTree->currentIndex();
    SelectTreeFolder(CollectionRoot);
    const QModelIndex selected = ShellTree->currentIndex();
    if (selected.isValid()) {
        CollapseBelow(selected);
        ShellTree->expand(selected);
    }
    // Every showing lists the collection afresh, even when the tree's selection stayed.
    if (selected == before)
        ShellTreeChange();
}

void TForm_ViewStashet::ac_DeleteUpdate()
{
    const bool any = SelCount() != 0;
    ac_Browse->setEnabled(any);
    ac_Copy->setEnabled(any);
    ac_Move->setEnabled(any);
    ac_Delete->setEnabled(any);
}

void TForm_ViewStashet::btn_ExitClick()
{
    close();
}
