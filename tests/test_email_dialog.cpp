#include "EMailDialog.h"
#include "TestContext.h"
#include "TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

void pressEscape(QWidget* target)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(27)));
    QCoreApplication::sendEvent(target, &press);
}

QList<Qt::CheckState> checkStates(QListWidget* list)
{
    QList<Qt::CheckState> out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->checkState();
    return out;
}

const QString kOverride = QStringLiteral("Replace the list?");
const QString kNotList = QStringLiteral("Not a list file.");

// An e-mail dialog over three addresses in a temporary program folder and collection, with
// file questions and message boxes answered from presets instead of shown.
class FormEMail : public ContextTest
{
protected:
    void SetUp() override
    {
        folder = paths().collectionRoot + "EMail";
        QDir().mkpath(folder);
        writeFile(paths().programDir + "English.LAG",
                  "[Translations]\r\n"
                  "Form_EMail.Caption=E-Mail Addresses\r\n"
                  "Form_EMail.btn_SaveAs.Caption=&Save as...\r\n"
                  "Form_EMail.btn_Export.Caption=&Merge...\r\n"
                  "Form_EMail.btn_Export.Hint=Merge into a list\r\n"
                  "C_OverridePrompt=" +
                      kOverride.toUtf8() +
                      "\r\n"
                      "C_NotEMailListFile=" +
                      kNotList.toUtf8() + "\r\n");
        language().setLanguage("English");
        prompts().setNextFileNames({});
        form = CreateEMailDialog(context(), {"alice@x.org", "Bob@x.org", "carol@x.org"}, folder);
        form->show();
    }
    void TearDown() override { form.reset(); }
    QString path(const char* name) const { return folder + "/" + QString::fromUtf8(name); }
    // The dialog still open after a click?
    bool stillOpen() const { return form->isVisible() && form->result() == 0; }

    QString folder;
    std::unique_ptr<EMailDialog> form;
};

TEST_F(FormEMail, OpensWithEveryAddressCheckedInOrderAndTheLanguageTexts)
{
    ASSERT_EQ(form->lb_EMail->count(), 3);
    EXPECT_EQ(form->lb_EMail->item(0)->text(), "alice@x.org");
    EXPECT_EQ(form->lb_EMail->item(1)->text(), "Bob@x.org");
    EXPECT_EQ(form->lb_EMail->item(2)->text(), "carol@x.org");
    EXPECT_EQ(checkStates(form->lb_EMail),
              (QList<Qt::CheckState>{Qt::Checked, Qt::Checked, Qt::Checked}));
    EXPECT_EQ(CheckedCount(form->lb_EMail), 3);
    EXPECT_EQ(form->EMailFolder(), folder);

    EXPECT_EQ(form->windowTitle(), "E-Mail Addresses");
    EXPECT_EQ(form->btn_SaveAs->text(), "&Save as...");
    EXPECT_EQ(form->btn_Export->text(), "&Merge...");
    EXPECT_EQ(form->btn_Export->toolTip(), "Merge into a list");
    // Not from the catalogue: its caption says what it does.
    EXPECT_EQ(form->btn_SelectAll->text(), "&Unselect All");
}

TEST_F(FormEMail, EveryShowAppliesTheLanguageAndAMissingKeyGivesNoText)
{
    form->hide();
    writeFile(paths().programDir + "English.LAG", "[Translations]\r\nForm_EMail.Caption=Other\r\n");
    language().setLanguage("English");
    form->show();
    EXPECT_EQ(form->windowTitle(), "Other");
    EXPECT_EQ(form->btn_SaveAs->text(), "");
    EXPECT_EQ(form->btn_Export->toolTip(), "");
}

TEST_F(FormEMail, SaveAsWritesTheCheckedRowsInOrderAndCloses)
{
    form->lb_EMail->item(1)->setCheckState(Qt::Unchecked);
    prompts().setNextFileNames({path("new.txt")});
    form->btn_SaveAs->click();
    EXPECT_EQ(prompts().fileQuestions(), QStringList{"save: " + folder});
    EXPECT_EQ(readFile(path("new.txt")), QByteArray("alice@x.org\r\ncarol@x.org\r\n"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(FormEMail, SaveAsGivesANameTypedWithoutExtensionTheListExtension)
{
    prompts().setNextFileNames({path("friends")});
    form->btn_SaveAs->click();
    EXPECT_EQ(readFile(path("friends.txt")),
              QByteArray("alice@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
}

TEST_F(FormEMail, FileButtonsAreDisabledAndDoNothingWithoutACheckedRow)
{
    EXPECT_TRUE(form->btn_SaveAs->isEnabled());
    CheckAllItems(form->lb_EMail, false);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->btn_SaveAs->isEnabled());
    EXPECT_FALSE(form->btn_Export->isEnabled());
    EXPECT_TRUE(form->btn_SelectAll->isEnabled());
    form->lb_EMail->item(2)->setCheckState(Qt::Checked);
    EXPECT_TRUE(form->btn_SaveAs->isEnabled());
    EXPECT_TRUE(form->btn_Export->isEnabled());
    form->lb_EMail->item(2)->setCheckState(Qt::Unchecked);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->btn_Export->isEnabled());

    // The handlers themselves still refuse, whatever calls them.
    prompts().setNextFileNames({path("a.txt"), path("b.txt")});
    form->btn_SaveAsClick();
    form->btn_ExportClick();
    form->btn_SaveAs->click();
    form->btn_Export->click();
    EXPECT_TRUE(prompts().fileQuestions().isEmpty());
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, CancelledFileQuestionLeavesTheDialogOpen)
{
    prompts().setNextFileNames({QString(), QString()});
    form->btn_SaveAs->click();
    form->btn_Export->click();
    EXPECT_EQ(prompts().fileQuestions().size(), 2);
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, SaveAsReplacesAnExistingFileOnlyAfterYes)
{
    writeFile(path("old.txt"), "old@x.org\r\n");
    for (const Prompts::Answer refusal : {Prompts::Answer::No, Prompts::Answer::Cancel}) {
        prompts().clearShown();
        prompts().setNextAnswers({refusal});
        prompts().setNextFileNames({path("old.txt")});
        form->btn_SaveAs->click();
        EXPECT_EQ(prompts().shown(), QStringList{"question: " + kOverride});
        EXPECT_EQ(readFile(path("old.txt")), QByteArray("old@x.org\r\n"));
        EXPECT_TRUE(stillOpen());
    }
    prompts().setNextAnswers({Prompts::Answer::Yes});
    prompts().setNextFileNames({path("old.txt")});
    form->btn_SaveAs->click();
    EXPECT_EQ(readFile(path("old.txt")), QByteArray("alice@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(FormEMail, ExportMergesIntoATxtFileInAnyCaseAndCloses)
{
    writeFile(path("list.TXT"), "zed@x.org\r\nBOB@X.ORG\r\n");
    prompts().setNextFileNames({path("list.TXT")});
    form->btn_Export->click();
    EXPECT_EQ(readFile(path("list.TXT")),
              QByteArray("alice@x.org\r\nBOB@X.ORG\r\ncarol@x.org\r\nzed@x.org\r\n"));
    EXPECT_TRUE(prompts().shown().isEmpty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(FormEMail, ExportRefusesAnExistingFileThatIsNoListFile)
{
    writeFile(path("list.csv"), "name,address\r\n");
    prompts().setNextFileNames({path("list.csv")});
    form->btn_Export->click();
    EXPECT_EQ(prompts().shown(), QStringList{"warning: " + kNotList});
    EXPECT_EQ(readFile(path("list.csv")), QByteArray("name,address\r\n"));
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, ExportIntoANewNameWritesTheListUnsortedAndStaysOpen)
{
    form->lb_EMail->item(0)->setCheckState(Qt::Unchecked);
    form->lb_EMail->insertItem(0, "zed@x.org");
    form->lb_EMail->item(0)->setCheckState(Qt::Checked);
    prompts().setNextFileNames({path("fresh.csv")});
    form->btn_Export->click();
    EXPECT_EQ(readFile(path("fresh.csv")), QByteArray("zed@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, AFailedExportIsShownAndTheDialogStaysOpen)
{
    QDir(folder).mkdir("folder.txt");
    prompts().setNextFileNames({path("folder.txt")});
    form->btn_Export->click();
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown().constFirst().startsWith("error: "))
        << prompts().shown().constFirst().toStdString();
    EXPECT_TRUE(prompts().shown().constFirst().contains(path("folder.txt")));
    EXPECT_TRUE(QFileInfo(path("folder.txt")).isDir());
    EXPECT_TRUE(stillOpen());

    // The handler itself lets the error through to its caller.
    prompts().setNextFileNames({path("folder.txt")});
    EXPECT_ANY_THROW(form->btn_ExportClick());
}

TEST_F(FormEMail, SelectAllTogglesTheMarksByItsCaption)
{
    using States = QList<Qt::CheckState>;
    form->lb_EMail->item(1)->setCheckState(Qt::Unchecked);
    form->btn_SelectAll->click();
    EXPECT_EQ(form->btn_SelectAll->text(), "&Select All");
    EXPECT_EQ(checkStates(form->lb_EMail), (States{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}));
    form->btn_SelectAll->click();
    EXPECT_EQ(form->btn_SelectAll->text(), "&Unselect All");
    EXPECT_EQ(checkStates(form->lb_EMail), (States{Qt::Checked, Qt::Checked, Qt::Checked}));

    // The caption is compared without regard to letter case.
    form->btn_SelectAll->setText("&UNSELECT ALL");
    form->btn_SelectAll->click();
    EXPECT_EQ(form->btn_SelectAll->text(), "&Select All");
    EXPECT_EQ(CheckedCount(form->lb_EMail), 0);
}

TEST_F(FormEMail, EscapeClosesTheDialogWhicheverControlHasTheFocus)
{
    const QList<QWidget*> targets = {form->lb_EMail,   form->lb_EMail->viewport(), form->btn_SaveAs,
                                     form->btn_Export, form->btn_SelectAll,        form.get()};
    for (QWidget* target : targets) {
        form->show();
        ASSERT_TRUE(form->isVisible());
        pressEscape(target);
        EXPECT_FALSE(form->isVisible()) << target->objectName().toStdString();
        EXPECT_EQ(form->result(), QDialog::Rejected);
    }
}

TEST_F(FormEMail, ReturnOnAFocusedButtonPressesIt)
{
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        form->btn_SelectAll->setFocus();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(form->btn_SelectAll, &press);
    }
    // Pressed twice: unchecked all, then checked all again.
    EXPECT_EQ(form->btn_SelectAll->text(), "&Unselect All");
    EXPECT_EQ(CheckedCount(form->lb_EMail), 3);

    prompts().setNextFileNames({path("by-key.txt")});
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(form->btn_SaveAs, &press);
    EXPECT_TRUE(QFileInfo::exists(path("by-key.txt")));
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

using ShowEMailDialogTest = ContextTest;

TEST_F(ShowEMailDialogTest, ShowsTheAddressesModallyInTheCollectionsEMailFolderAndReleasesIt)
{
    language().setLanguage("English");
    QPointer<EMailDialog> shown;
    QStringList rows;
    QString folderSeen;
    int checked = -1;
    bool modal = false;
    // The modal loop runs the timer; Escape ends it, and a second timer ends it anyway.
    QTimer::singleShot(0, [&] {
        shown = qobject_cast<EMailDialog*>(QApplication::activeModalWidget());
        if (!shown)
            return;
        modal = shown->isModal();
        for (int i = 0; i < shown->lb_EMail->count(); ++i)
            rows << shown->lb_EMail->item(i)->text();
        checked = CheckedCount(shown->lb_EMail);
        folderSeen = shown->EMailFolder();
        pressEscape(shown->lb_EMail);
    });
    QTimer guard;
    guard.setInterval(2000);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start();

    ShowEMailDialog(context(), nullptr, {"a@x.org", "b@x.org"});
    EXPECT_TRUE(modal);
    EXPECT_EQ(rows, (QStringList{"a@x.org", "b@x.org"}));
    EXPECT_EQ(checked, 2);
    EXPECT_EQ(folderSeen, paths().collectionRoot + "EMail");
    EXPECT_TRUE(shown.isNull());
}

} // namespace
