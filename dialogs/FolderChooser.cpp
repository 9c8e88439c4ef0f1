#include "FolderChooser.h"

#include "CollectionFiles.h"
#include "FormFace.h"
#include "LanguageCatalogue.h"

#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <memory>

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

FolderChooserDialog::FolderChooserDialog(QWidget* parent, const QString& title,
                                         const QString& start, const LanguageCatalogue& language)
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
    m_error->setStyleSheet(IsDarkPalette(m_error->palette()) ? QStringLiteral("color: #ff8080")
                                                             : QStringLiteral("color: #b00000"));
    m_error->hide();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    const QString ok = language.text(QStringLiteral("btn_OK.Caption"));
    const QString cancel = language.text(QStringLiteral("btn_Cancel.Caption"));
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

void FolderChooserDialog::accept()
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
