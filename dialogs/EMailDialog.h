#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class AppContext;
class QListWidget;
class QToolButton;

// Sets every row's check mark, first to last, letting events run meanwhile.
void CheckAllItems(QListWidget* list, bool checked);

// The number of checked rows, letting events run meanwhile.
int CheckedCount(QListWidget* list);

// The modal dialog that lists harvested e-mail addresses with check marks and saves the checked
// ones as a new e-mail list file or merges them into an existing one; the file work itself is
// done by EMailList.h.
class EMailDialog : public QDialog
{
    Q_OBJECT
public:
    explicit EMailDialog(AppContext& context, QWidget* parent = nullptr);
    ~EMailDialog() override;

    // One row per address, in the given order, unchecked.
    void AddEMails(const QStringList& emails);
    void SetEMailFolder(const QString& folder);
    QString EMailFolder() const { return m_EMailFolder; }
    // The texts of the checked rows, in row order.
    QStringList CheckedEMails();
    // Writes the checked rows as a new list file over FileName. Throws InOutError.
    void WriteCheckedList(const QString& fileName);
    void ApplyLanguage();

    // Handlers; errors pass through to the caller (the buttons show them in the error display).
    void FormShow();
    void FormKeyPress(QChar key);
    void btn_SaveAsClick();
    void btn_ExportClick();
    void btn_SelectAllClick();
    // Save as and Export are enabled exactly while a row is checked.
    void UpdateFileButtons();

    QListWidget* lb_EMail;
    QToolButton* btn_SaveAs;
    QToolButton* btn_Export;
    QToolButton* btn_SelectAll;

public Q_SLOTS:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The select button's caption for its state, in the current language.
    void ShowSelectAllCaption();
    class Busy;
    void Command(void (EMailDialog::*handler)());

    AppContext& m_context;
    QString m_EMailFolder;
    // What the Select All button does next: uncheck every row (it starts so) or check them.
    bool m_clickUnchecks = true;
    // True while a handler's loop lets events run: a second click or a close must wait.
    bool m_busy = false;
    // A look at the check marks is due: checking a hundred thousand rows asks once, not each time.
    bool m_buttonUpdateDue = false;
};

// The dialog filled with Emails, every row checked, its file questions starting in Folder.
std::unique_ptr<EMailDialog> CreateEMailDialog(AppContext& context, const QStringList& emails,
                                               const QString& folder, QWidget* parent = nullptr);

// Shows Emails in a new e-mail dialog, modally, and releases it afterwards. An empty Folder
// means the collection's "EMail" folder.
void ShowEMailDialog(AppContext& context, QWidget* parent, const QStringList& emails,
                     const QString& folder = QString());
