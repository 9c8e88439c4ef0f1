#include "EMailDialog.h"

#include "AppContext.h"
#include "CaptureKind.h"
#include "EMailList.h"
#include "Errors.h"
#include "FormFace.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QPointer>
#include <QProgressDialog>
#include <QToolButton>
#include <exception>
#include <functional>

namespace {

// How often a long loop lets events run, and how long it runs before it shows its progress.
constexpr qint64 kPumpIntervalMs = 15;
constexpr qint64 kShowProgressAfterMs = 400;

// Lets pending events run, at most every few milliseconds: calling into the event loop after
// every one of a hundred thousand rows would cost more than the rows themselves.
class EventPump
{
public:
    EventPump() { m_timer.start(); }
    bool due() const { return m_timer.elapsed() - m_last >= kPumpIntervalMs; }
    void operator()()
    {
        if (!due())
            return;
        QCoreApplication::processEvents();
        m_last = m_timer.elapsed();
    }
    qint64 elapsed() const { return m_timer.elapsed(); }

private:
    QElapsedTimer m_timer;
    qint64 m_last = 0;
};

// The pump of a merge, which on a large file runs long enough to deserve a progress dialog.
class MergeProgress
{
public:
    explicit MergeProgress(QWidget* owner) : m_owner(owner) {}
    void operator()(qint64 done, qint64 total)
    {
        if (!m_pump.due())
            return;
        if (!m_dialog && m_owner && m_owner->isVisible() &&
            m_pump.elapsed() >= kShowProgressAfterMs) {
            m_dialog = std::make_unique<QProgressDialog>(m_owner);
            m_dialog->setCancelButton(nullptr);
            m_dialog->setWindowModality(Qt::WindowModal);
            m_dialog->setMinimumDuration(0);
            m_dialog->setWindowTitle(m_owner->windowTitle());
            m_dialog->setAutoClose(false);
            m_dialog->setAutoReset(false);
        }
        if (m_dialog) {
            m_dialog->setMaximum(int(qMin<qint64>(total, INT_MAX)));
            m_dialog->setValue(int(qMin<qint64>(done, INT_MAX)));
        }
        m_pump();
    }

private:
    QPointer<QWidget> m_owner;
    EventPump m_pump;
    std::unique_ptr<QProgressDialog> m_dialog;
};

QToolButton* HotTrackButton(QWidget* parent, int left, const QString& caption)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setGeometry(left, 309, 75, 25);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAutoRaise(true);
    // The form's background at rest, the hot-track colour under the pointer, framed in the
    // highlight colour when hot or focused. Where the colour is ours, so is the text's: a dark
    // theme's light text would not read on them.
    button->setStyleSheet(
        QStringLiteral("QToolButton { background-color: %1; border: 1px solid transparent; }"
                       "QToolButton:hover { background-color: rgb(255, 199, 60); color: black;"
                       " border: 1px solid rgb(106, 141, 244); }"
                       "QToolButton:focus { border: 1px solid rgb(106, 141, 244); }"
                       "QToolButton:pressed { background-color: rgb(106, 141, 244);"
                       " color: white; }")
            .arg(FormFace(parent->palette()).name()));
    return button;
}

} // namespace

void CheckAllItems(QListWidget* list, bool checked)
{
    const Qt::CheckState state = checked ? Qt::Checked : Qt::Unchecked;
    EventPump pump;
    // Rows may go while events run; the count is read again for every row.
    for (int i = 0; i < list->count(); ++i) {
        list->item(i)->setCheckState(state);
        pump();
    }
}

int CheckedCount(QListWidget* list)
{
    EventPump pump;
    int count = 0;
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->checkState() == Qt::Checked)
            ++count;
        pump();
    }
    return count;
}

// Marks the dialog busy for the length of a handler, so that what the handler's loops let run
// cannot start a second handler or close the dialog under it.
class EMailDialog::Busy
{
public:
    explicit Busy(EMailDialog* form) : m_form(form) { m_form->m_busy = true; }
    ~Busy() { m_form->m_busy = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    EMailDialog* m_form;
};

EMailDialog::EMailDialog(AppContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName(QStringLiteral("Form_EMail"));
    setWindowTitle(QStringLiteral("Save E-Mail"));
    setFixedSize(285, 347);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    PaintFormFace(this);

    lb_EMail = new QListWidget(this);
    lb_EMail->setObjectName(QStringLiteral("lb_EMail"));
    lb_EMail->setGeometry(10, 11, 263, 286);
    // Every row has the same height, which keeps a list of many thousand addresses quick.
    lb_EMail->setUniformItemSizes(true);
    lb_EMail->setSelectionMode(QAbstractItemView::SingleSelection);

    btn_SaveAs = HotTrackButton(this, 28, QStringLiteral("Save &as..."));
    btn_SaveAs->setObjectName(QStringLiteral("btn_SaveAs"));
    btn_Export = HotTrackButton(this, 108, QStringLiteral("E&xport..."));
    btn_Export->setObjectName(QStringLiteral("btn_Export"));
    btn_Export->setToolTip(QStringLiteral("Merge into another E-Mail file list"));
    btn_SelectAll = HotTrackButton(this, 188, QStringLiteral("&Unselect All"));
    btn_SelectAll->setObjectName(QStringLiteral("btn_SelectAll"));

    setTabOrder(btn_Export, btn_SaveAs);
    setTabOrder(btn_SaveAs, lb_EMail);
    setTabOrder(lb_EMail, btn_SelectAll);
    btn_Export->setFocus();

    connect(btn_SaveAs, &QToolButton::clicked, this,
            [this] { Command(&EMailDialog::btn_SaveAsClick); });
    connect(btn_Export, &QToolButton::clicked, this,
            [this] { Command(&EMailDialog::btn_ExportClick); });
    connect(btn_SelectAll, &QToolButton::clicked, this,
            [this] { Command(&EMailDialog::btn_SelectAllClick); });

    // A check mark set asks for one look at all of them once events run again; setting one can
    // only enable the buttons, so that is done at once.
    connect(lb_EMail, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (item->checkState() == Qt::Checked) {
            btn_SaveAs->setEnabled(true);
            btn_Export->setEnabled(true);
            return;
        }
        if (m_buttonUpdateDue)
            return;
        m_buttonUpdateDue = true;
        QMetaObject::invokeMethod(this, &EMailDialog::UpdateFileButtons, Qt::QueuedConnection);
    });
    UpdateFileButtons();

    // Key preview: Escape closes the dialog whichever control has the focus, and Return or Enter
    // on a focused button presses it (a tool button answers only the space bar by itself).
    for (QWidget* w :
         {static_cast<QWidget*>(lb_EMail), lb_EMail->viewport(), static_cast<QWidget*>(btn_SaveAs),
          static_cast<QWidget*>(btn_Export), static_cast<QWidget*>(btn_SelectAll)})
        w->installEventFilter(this);
}

EMailDialog::~EMailDialog() = default;

void EMailDialog::AddEMails(const QStringList& emails)
{
    lb_EMail->setUpdatesEnabled(false);
    for (const QString& address : emails) {
        auto* item = new QListWidgetItem(address);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
        lb_EMail->addItem(item);
    }
    lb_EMail->setUpdatesEnabled(true);
}

void EMailDialog::SetEMailFolder(const QString& folder)
{
    m_EMailFolder = folder;
}

QStringList EMailDialog::CheckedEMails()
{
    QStringList out;
    EventPump pump;
    for (int i = 0; i < lb_EMail->count(); ++i) {
        const QListWidgetItem* item = lb_EMail->item(i);
        if (item->checkState() == Qt::Checked)
            out << item->text();
        pump();
    }
    return out;
}

void EMailDialog::WriteCheckedList(const QString& fileName)
{
    WriteEMailList(fileName, CheckedEMails());
}

void EMailDialog::ApplyLanguage()
{
    setWindowTitle(m_context.language().text(QStringLiteral("Form_EMail.Caption")));
    btn_SaveAs->setText(m_context.language().text(QStringLiteral("Form_EMail.btn_SaveAs.Caption")));
    btn_Export->setText(m_context.language().text(QStringLiteral("Form_EMail.btn_Export.Caption")));
    btn_Export->setToolTip(m_context.language().text(QStringLiteral("Form_EMail.btn_Export.Hint")));
    ShowSelectAllCaption();
}

void EMailDialog::ShowSelectAllCaption()
{
    btn_SelectAll->setText(
        m_clickUnchecks
            ? m_context.language().text(QStringLiteral("Form_EMail.btn_UnselectAll.Caption"),
                                        QStringLiteral("&Unselect All"))
            : m_context.language().text(QStringLiteral("Form_EMail.btn_SelectAll.Caption"),
                                        QStringLiteral("&Select All")));
}

void EMailDialog::FormShow()
{
    ApplyLanguage();
}

void EMailDialog::FormKeyPress(QChar key)
{
    if (key.unicode() == 27)
        reject();
}

namespace {

QString AskListFile(AppContext& context, QWidget* parent, const QString& folder)
{
    // A name typed without an extension becomes a ".txt" file, the kind Export merges into.
    return context.prompts().saveFileName(
        parent, QString(), folder,
        context.language().text(QStringLiteral("C_EMailListFilter"),
                                QStringLiteral("EMail List file(*.txt);;All files(*)")),
        QStringLiteral("txt"));
}

} // namespace

void EMailDialog::btn_SaveAsClick()
{
    if (m_busy)
        return;
    Busy busy(this);
    if (CheckedCount(lb_EMail) == 0)
        return;
    const QString fileName = AskListFile(m_context, this, m_EMailFolder);
    if (fileName.isEmpty())
        return;
    if (!m_context.prompts().mayReplaceFile(this, fileName))
        return;
    WriteCheckedList(fileName);
    done(QDialog::Accepted);
}

void EMailDialog::btn_ExportClick()
{
    if (m_busy)
        return;
    Busy busy(this);
    if (CheckedCount(lb_EMail) == 0)
        return;
    const QString fileName = AskListFile(m_context, this, m_EMailFolder);
    if (fileName.isEmpty())
        return;
    if (!QFileInfo::exists(fileName)) {
        WriteCheckedList(fileName);
        return;
    }
    if (!IsEMailListFile(fileName)) {
        m_context.prompts().warning(
            this, m_context.language().text(QStringLiteral("C_NotEMailListFile")));
        return;
    }
    MergeProgress progress(this);
    MergeIntoEMailListFile(fileName, CheckedEMails(), std::ref(progress));
    done(QDialog::Accepted);
}

void EMailDialog::UpdateFileButtons()
{
    m_buttonUpdateDue = false;
    bool any = false;
    for (int i = 0; i < lb_EMail->count() && !any; ++i)
        any = lb_EMail->item(i)->checkState() == Qt::Checked;
    btn_SaveAs->setEnabled(any);
    btn_Export->setEnabled(any);
}

void EMailDialog::btn_SelectAllClick()
{
    if (m_busy)
        return;
    Busy busy(this);
    m_clickUnchecks = !m_clickUnchecks;
    ShowSelectAllCaption();
    CheckAllItems(lb_EMail, m_clickUnchecks);
}

void EMailDialog::reject()
{
    if (!m_busy)
        QDialog::reject();
}

void EMailDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void EMailDialog::closeEvent(QCloseEvent* event)
{
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool EMailDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
        FormKeyPress(QChar(27));
        return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        for (QToolButton* button : {btn_SaveAs, btn_Export, btn_SelectAll}) {
            if (watched == button) {
                if (button->isEnabled())
                    button->click();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void EMailDialog::Command(void (EMailDialog::*handler)())
{
    // The application's error display, here rather than further up: an error must not travel
    // through the dialog's event loop, and the dialog stays open after it.
    try {
        (this->*handler)();
    } catch (const NimbrilError& e) {
        m_context.prompts().error(this, m_context.language().translate(e.message()));
    } catch (const std::exception& e) {
        m_context.prompts().error(this, QString::fromLocal8Bit(e.what()));
    }
}

std::unique_ptr<EMailDialog> CreateEMailDialog(AppContext& context, const QStringList& emails,
                                               const QString& folder, QWidget* parent)
{
    auto form = std::make_unique<EMailDialog>(context, parent);
    form->AddEMails(emails);
    form->SetEMailFolder(folder);
    CheckAllItems(form->lb_EMail, true);
    return form;
}

void ShowEMailDialog(AppContext& context, QWidget* parent, const QStringList& emails,
                     const QString& folder)
{
    QString target = folder;
    if (target.isEmpty())
        target = context.paths().collectionFolder(FolderOf(CaptureKind::EMail));
    const std::unique_ptr<EMailDialog> form = CreateEMailDialog(context, emails, target, parent);
    form->exec();
}
