#include "CollectionViewer.h"

#include "AppContext.h"
#include "FileNames.h"
#include "FolderChooser.h"
#include "FormFace.h"
#include "Thumbnails.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

} // namespace

CollectionViewer::CollectionViewer(AppContext& context, QWidget* floatingWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context), m_floatingWindow(floatingWindow)
{
    setObjectName(QStringLiteral("Form_ViewStashet"));
    setWindowTitle(QStringLiteral("View Stashet"));
    PaintFormFace(this);
    trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    auto makeAction = [this](const char* name, const char* caption, const char* hint,
                             const QIcon& icon, void (CollectionViewer::*handler)()) {
        auto* action = new QAction(icon, QString::fromUtf8(caption), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setToolTip(QString::fromUtf8(hint));
        action->setStatusTip(QString::fromUtf8(hint));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    ac_Browse = makeAction("ac_Browse", "&Open with default viewer", "Open with default viewer",
                           ThemeIcon("document-open", QStyle::SP_DialogOpenButton),
                           &CollectionViewer::ac_BrowseExecute);
    ac_Copy = makeAction("ac_Copy", "&Copy to...", "Copy selected files to other directory",
                         ThemeIcon("edit-copy", QStyle::SP_FileDialogNewFolder),
                         &CollectionViewer::ac_CopyExecute);
    ac_Move = makeAction("ac_Move", "&Move to...", "Move selected files to other directory",
                         ThemeIcon("go-jump", QStyle::SP_ArrowForward),
                         &CollectionViewer::ac_MoveExecute);
    ac_Delete = makeAction("ac_Delete", "&Delete files", "Delete selected files",
                           ThemeIcon("edit-delete", QStyle::SP_TrashIcon),
                           &CollectionViewer::ac_DeleteExecute);
    ac_GoHome = makeAction("ac_GoHome", "&Go Home", "Go Collection directory",
                           ThemeIcon("go-home", QStyle::SP_DirHomeIcon),
                           &CollectionViewer::ac_GoHomeExecute);

    // Left panel: the folder tree and the file list.
    FolderModel = new QFileSystemModel(this);
    FolderModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    FolderTree = new QTreeView;
    FolderTree->setObjectName(QStringLiteral("FolderTree"));
    FolderTree->setModel(FolderModel);
    FolderTree->setHeaderHidden(true);
    FolderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int column = 1; column < FolderModel->columnCount(); ++column)
        FolderTree->hideColumn(column);
    connect(FolderTree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { FolderTreeChange(); });
    // Folders beside the collection come in as the model reads its parent; they stay hidden.
    connect(FolderModel, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent == FolderTree->rootIndex())
                    HideTreeSiblings(parent, first, last);
            });

    FileListBox = new QListWidget;
    FileListBox->setObjectName(QStringLiteral("FileListBox"));
    FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileListBox->setContextMenuPolicy(Qt::CustomContextMenu);
    FileListBox->setUniformItemSizes(true);
    // Long names keep their start and their extension; the tooltip has them whole.
    FileListBox->setTextElideMode(Qt::ElideMiddle);
    FileListBox->setIconSize(QSize(32, 32));
    Thumbnails = new ThumbnailFiller(FileListBox, FileListBox->iconSize());
    FileListBox->installEventFilter(this);
    connect(FileListBox, &QListWidget::itemClicked, this, [this] { FileListBoxClick(); });
    connect(FileListBox, &QListWidget::currentItemChanged, this, [this] {
        // A mouse press is previewed by its click; this catches moves by keyboard.
        if (!m_filling && QGuiApplication::mouseButtons() == Qt::NoButton)
            FileListBoxClick();
    });
    connect(FileListBox, &QListWidget::itemDoubleClicked, this, [this] { FileListBoxDblClick(); });
    connect(FileListBox, &QListWidget::itemSelectionChanged, this, [this] { UpdateFileActions(); });
    connect(FileListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pm_FileList->popup(FileListBox->viewport()->mapToGlobal(pos));
    });

    pnl_Left = new QSplitter(Qt::Horizontal);
    pnl_Left->setObjectName(QStringLiteral("pnl_Left"));
    pnl_Left->setHandleWidth(5);
    pnl_Left->setChildrenCollapsible(false);
    pnl_Left->addWidget(FolderTree);
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

    Preview = new PreviewPane(m_context.language(), m_context.paths().programDir);
    Preview->setObjectName(QStringLiteral("Preview"));
    pnl_Right = new QWidget;
    pnl_Right->setObjectName(QStringLiteral("pnl_Right"));
    auto* rightLayout = new QVBoxLayout(pnl_Right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    rightLayout->addWidget(ToolBar);
    rightLayout->addWidget(Preview, 1);

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

    RootTreeAtCollection();
    resize(677, 472);
    setWindowState(Qt::WindowMaximized);
    UpdateFileActions();
}

CollectionViewer::~CollectionViewer() = default;

QToolButton* CollectionViewer::AddToolButton(const QString& name, QAction* action)
{
    auto* button = new QToolButton;
    button->setObjectName(name);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    ToolBar->addWidget(button);
    return button;
}

void CollectionViewer::ShowViewer()
{
    if (m_floatingWindow)
        m_floatingWindow->hide();
    if (windowState() & Qt::WindowMinimized)
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void CollectionViewer::RestoreStep()
{
    if (!(windowState() & Qt::WindowMinimized))
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void CollectionViewer::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The window system's own show (un-minimising) is no new showing: the user keeps his place.
    if (!event->spontaneous())
        FormShow();
}

void CollectionViewer::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    // Without a tray icon nothing else could bring the floating window back.
    if (m_floatingWindow && trayAvailable && !trayAvailable())
        m_floatingWindow->show();
}

bool CollectionViewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == FileListBox && event->type() == QEvent::KeyPress &&
        FileListBoxKeyDown(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QWidget::eventFilter(watched, event);
}

void CollectionViewer::FormShow()
{
    ApplyLanguage();
    FileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ac_GoHomeExecute();
}

void CollectionViewer::ApplyLanguage()
{
    setWindowTitle(m_context.language().text(QStringLiteral("Form_ViewStashet.Caption")));
    ac_Copy->setText(m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Copy.Caption")));
    ac_Move->setText(m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Move.Caption")));
    ac_Delete->setText(
        m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Delete.Caption")));
    ac_GoHome->setText(
        m_context.language().text(QStringLiteral("Form_ViewStashet.ac_GoHome.Caption")));
    ac_Browse->setText(
        m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Browse.Caption")));
    const auto setHint = [](QAction* action, const QString& hint) {
        action->setToolTip(hint);
        action->setStatusTip(hint);
    };
    setHint(ac_Copy, m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Copy.Hint")));
    setHint(ac_Move, m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Move.Hint")));
    setHint(ac_Delete,
            m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Delete.Hint")));
    setHint(ac_GoHome,
            m_context.language().text(QStringLiteral("Form_ViewStashet.ac_GoHome.Hint")));
    setHint(ac_Browse,
            m_context.language().text(QStringLiteral("Form_ViewStashet.ac_Browse.Hint")));
    btn_Exit->setToolTip(
        m_context.language().text(QStringLiteral("Form_ViewStashet.btn_Exit.Hint")));
    btn_Exit->setText(m_context.language().text(QStringLiteral("Form_ViewStashet.btn_Exit.Caption"),
                                                QStringLiteral("Exit")));
}

bool CollectionViewer::SelectTreeFolder(const QString& path)
{
    const QString folder = QDir::cleanPath(path);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return false;
    const QModelIndex index = FolderModel->index(folder);
    if (!index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        FolderTree->expand(up);
    FolderTree->setCurrentIndex(index);
    ScrollWhenLoaded(FolderModel, FolderTree, index);
    return true;
}

QString CollectionViewer::SelectedTreeFolder() const
{
    const QModelIndex index = FolderTree->currentIndex();
    if (!index.isValid())
        return QString();
    const QString path = FolderModel->filePath(index);
    return QFileInfo(path).isDir() ? path : QString();
}

void CollectionViewer::CollapseBelow(const QModelIndex& index)
{
    for (int row = 0; row < FolderModel->rowCount(index); ++row) {
        const QModelIndex child = FolderModel->index(row, 0, index);
        if (FolderTree->isExpanded(child))
            CollapseBelow(child);
    }
    FolderTree->collapse(index);
}

void CollectionViewer::RootTreeAtCollection()
{
    const QString root = QDir::cleanPath(m_context.paths().collectionRoot);
    const QString parent = QFileInfo(root).path();
    m_treeRoot = root;
    FolderModel->setRootPath(parent);
    const QModelIndex parentIndex = FolderModel->index(parent);
    FolderTree->setRootIndex(parentIndex);
    HideTreeSiblings(parentIndex, 0, FolderModel->rowCount(parentIndex) - 1);
}

void CollectionViewer::HideTreeSiblings(const QModelIndex& parent, int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QString path =
            QDir::cleanPath(FolderModel->filePath(FolderModel->index(row, 0, parent)));
        FolderTree->setRowHidden(row, parent, path != m_treeRoot);
    }
}

void CollectionViewer::ShowListFolder(const QString& path)
{
    if (path.isEmpty())
        return;
    m_listFolder = QDir::cleanPath(path);
    FillList(m_listFolder);
}

void CollectionViewer::RereadList()
{
    if (!m_listFolder.isEmpty())
        FillList(m_listFolder);
}

void CollectionViewer::FillList(const QString& folder)
{
    const QStringList names =
        QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    m_filling = true;
    FileListBox->setUpdatesEnabled(false);
    FileListBox->clear();
    QList<int> pictures;
    for (const QString& name : names) {
        auto* item = new QListWidgetItem(icon, name);
        item->setToolTip(name);
        FileListBox->addItem(item);
        if (ClassifyFileName(name) == fcPhoto)
            pictures << FileListBox->count() - 1;
    }
    FileListBox->setUpdatesEnabled(true);
    Thumbnails->start(folder, pictures);
    m_filling = false;
    UpdateFileActions();
}

QString CollectionViewer::FocusedFile() const
{
    const QListWidgetItem* item = FileListBox->currentItem();
    if (!item || m_listFolder.isEmpty())
        return QString();
    return WithTrailingSlash(m_listFolder) + item->text();
}

int CollectionViewer::SelCount() const
{
    return int(FileListBox->selectionModel()->selectedIndexes().size());
}

QStringList CollectionViewer::SelectedNames() const
{
    QStringList names;
    for (int row = 0; row < FileListBox->count(); ++row) {
        const QListWidgetItem* item = FileListBox->item(row);
        if (item->isSelected())
            names << item->text();
    }
    return names;
}

QStringList CollectionViewer::ListedNames() const
{
    QStringList names;
    for (int row = 0; row < FileListBox->count(); ++row)
        names << FileListBox->item(row)->text();
    return names;
}

void CollectionViewer::FolderTreeChange()
{
    ShowListFolder(SelectedTreeFolder());
}

void CollectionViewer::FileListBoxClick()
{
    const QString path = FocusedFile();
    if (path.isEmpty())
        return;
    const FileClass cls = ClassifyFile(path);
    if (IsPreviewedClass(cls))
        Preview->Navigate(path, cls);
}

void CollectionViewer::FileListBoxDblClick()
{
    ac_BrowseExecute();
}

bool CollectionViewer::FileListBoxKeyDown(int key)
{
    if (key != Qt::Key_Delete)
        return false;
    ac_DeleteExecute();
    return true;
}

void CollectionViewer::ac_BrowseExecute()
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
            m_context.prompts().information(
                this, m_context.language().text(QStringLiteral("C_BadFileFormat")));
        else
            m_context.prompts().error(this, ioError);
        return;
    }
    m_context.shell().open(path);
}

void CollectionViewer::ac_CopyExecute()
{
    CopyOrMoveSelected(true);
}

void CollectionViewer::ac_MoveExecute()
{
    CopyOrMoveSelected(false);
}

QList<FileFailure> CollectionViewer::RunWithProgress(FileOperation operation, QAction* action,
                                                     const QString& folder,
                                                     const QStringList& names,
                                                     const QString& targetFolder)
{
    // Not modal: the user may go on using the window while files are handled.
    QProgressDialog progress(WithoutMnemonic(action->text()), QString(), 0, int(names.size()),
                             this);
    const QString cancel = m_context.language().text(QStringLiteral("btn_Cancel.Caption"));
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

void CollectionViewer::CopyOrMoveSelected(bool copy)
{
    if (SelCount() == 0)
        return;
    QAction* action = copy ? ac_Copy : ac_Move;
    const QString start = m_lastTargetFolder.isEmpty() ? QDir::currentPath() : m_lastTargetFolder;
    const std::optional<QString> chosen =
        m_context.prompts().chooseFolder(this, WithoutMnemonic(action->text()), start);
    if (!chosen)
        return;
    m_lastTargetFolder = WithTrailingSlash(*chosen);

    const QString folder = m_listFolder;
    const QStringList names = SelectedNames();
    const QList<FileFailure> failures =
        RunWithProgress(copy ? FileOperation::Copy : FileOperation::Move, action, folder, names,
                        m_lastTargetFolder);
    if (!copy)
        RereadList();
    if (failures.isEmpty())
        m_context.prompts().information(this,
                                        m_context.language().text(QStringLiteral("C_CopyDone")));
    else
        ReportFailures(QStringLiteral("C_FilesNotDone"), failures);
}

void CollectionViewer::ac_DeleteExecute()
{
    if (m_context.prompts().askYesNoCancel(
            this, m_context.language().text(QStringLiteral("C_ConfirmDeleteFiles")),
            QMessageBox::Warning) != Prompts::Answer::Yes)
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

void CollectionViewer::ReportFailures(const QString& key, const QList<FileFailure>& failures)
{
    m_context.prompts().warning(this, m_context.language().text(key) + QStringLiteral("\n\n") +
                                          DescribeFailures(failures));
}

void CollectionViewer::ac_GoHomeExecute()
{
    if (QDir::cleanPath(m_context.paths().collectionRoot) != m_treeRoot)
        RootTreeAtCollection();
    const QModelIndex before = FolderTree->currentIndex();
    SelectTreeFolder(m_context.paths().collectionRoot);
    const QModelIndex selected = FolderTree->currentIndex();
    if (selected.isValid()) {
        CollapseBelow(selected);
        FolderTree->expand(selected);
    }
    // Every showing lists the collection afresh, even when the tree's selection stayed.
    if (selected == before)
        FolderTreeChange();
}

void CollectionViewer::UpdateFileActions()
{
    const bool any = SelCount() != 0;
    ac_Browse->setEnabled(any);
    ac_Copy->setEnabled(any);
    ac_Move->setEnabled(any);
    ac_Delete->setEnabled(any);
}

void CollectionViewer::btn_ExitClick()
{
    close();
}
