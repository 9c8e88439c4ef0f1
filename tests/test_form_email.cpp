#include "FileDialogs.h"
#include "MessageBox.h"
#include "TestFiles.h"
#include "u_EMail.h"
#include "u_Store.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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
class FormEMail : public ::testing::Test
{
protected:
    void SetUp() override
    {
        AppDir = tmp.filePath("app") + "/";
        QDir().mkpath(AppDir);
        CollectionRoot = tmp.filePath("coll") + "/";
        folder = CollectionRoot + "EMail";
        QDir().mkpath(folder);
        CurrentLanguage = "English";
        writeFile(AppDir + "English.LAG", "[Translations]\r\n"
                                          "Form_EMail.Caption=E-Mail Addresses\r\n"
                                          "Form_EMail.btn_SaveAs.Caption=&Save as...\r\n"
                                          "Form_EMail.btn_Export.Caption=&Merge...\r\n"
                                          "Form_EMail.btn_Export.Hint=Merge into a list\r\n"
                                          "C_OverridePrompt=" +
                                              kOverride.toUtf8() +
                                              "\r\n"
                                              "C_NotEMailListFile=" +
                                              kNotList.toUtf8() + "\r\n");
        MessageBox::StartRecording();
        FileDialogs::PresetAnswers({});
        form = CreateEMailDialog({"alice@x.org", "Bob@x.org", "carol@x.org"}, folder);
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        MessageBox::StopRecording();
        FileDialogs::StopPresetting();
    }
    QString path(const char* name) const { return folder + "/" + QString::fromUtf8(name); }
    // The dialog still open after a click?
    bool stillOpen() const { return form->isVisible() && form->result() == 0; }

    QTemporaryDir tmp;
    QString folder;
    std::unique_ptr<TForm_EMail> form;
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
    writeFile(AppDir + "English.LAG", "[Translations]\r\nForm_EMail.Caption=Other\r\n");
    form->show();
    EXPECT_EQ(form->windowTitle(), "Other");
    EXPECT_EQ(form->btn_SaveAs->text(), "");
    EXPECT_EQ(form->btn_Export->toolTip(), "");
}

TEST_F(FormEMail, SaveAsWritesTheCheckedRowsInOrderAndCloses)
{
    form->lb_EMail->item(1)->setCheckState(Qt::Unchecked);
    FileDialogs::PresetAnswers({path("new.txt")});
    form->btn_SaveAs->click();
    EXPECT_EQ(FileDialogs::Asked(), QStringList{"save: " + folder});
    EXPECT_EQ(readFile(path("new.txt")), QByteArray("alice@x.org\r\ncarol@x.org\r\n"));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
}

TEST_F(FormEMail, SaveAsGivesANameTypedWithoutExtensionTheListExtension)
{
    FileDialogs::PresetAnswers({path("friends")});
    form->btn_SaveAs->click();
    EXPECT_EQ(readFile(path("friends.txt")),
              QByteArray("alice@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
}

TEST_F(FormEMail, FileButtonsDoNothingWithoutACheckedRow)
{
    CheckAllItems(form->lb_EMail, false);
    FileDialogs::PresetAnswers({path("a.txt"), path("b.txt")});
    form->btn_SaveAs->click();
    form->btn_Export->click();
    EXPECT_TRUE(FileDialogs::Asked().isEmpty());
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, CancelledFileQuestionLeavesTheDialogOpen)
{
    FileDialogs::PresetAnswers({QString(), QString()});
    form->btn_SaveAs->click();
    form->btn_Export->click();
    EXPECT_EQ(FileDialogs::Asked().size(), 2);
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, SaveAsReplacesAnExistingFileOnlyAfterYes)
{
    writeFile(path("old.txt"), "old@x.org\r\n");
    for (const MessageBox::Answer refusal : {MessageBox::Answer::No, MessageBox::Answer::Cancel}) {
        MessageBox::StartRecording();
        MessageBox::PresetAnswers({refusal});
        FileDialogs::PresetAnswers({path("old.txt")});
        form->btn_SaveAs->click();
        EXPECT_EQ(MessageBox::Recorded(), QStringList{"question: " + kOverride});
        EXPECT_EQ(readFile(path("old.txt")), QByteArray("old@x.org\r\n"));
        EXPECT_TRUE(stillOpen());
    }
    MessageBox::PresetAnswers({MessageBox::Answer::Yes});
    FileDialogs::PresetAnswers({path("old.txt")});
    form->btn_SaveAs->click();
    EXPECT_EQ(readFile(path("old.txt")), QByteArray("alice@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
    EXPECT_FALSE(form->isVisible());
}

TEST_F(FormEMail, ExportMergesIntoATxtFileInAnyCaseAndCloses)
{
    writeFile(path("list.TXT"), "zed@x.org\r\nBOB@X.ORG\r\n");
    FileDialogs::PresetAnswers({path("list.TXT")});
    form->btn_Export->click();
    EXPECT_EQ(readFile(path("list.TXT")),
              QByteArray("alice@x.org\r\nBOB@X.ORG\r\ncarol@x.org\r\nzed@x.org\r\n"));
    EXPECT_TRUE(MessageBox::Recorded().isEmpty());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(FormEMail, ExportRefusesAnExistingFileThatIsNoListFile)
{
    writeFile(path("list.csv"), "name,address\r\n");
    FileDialogs::PresetAnswers({path("list.csv")});
    form->btn_Export->click();
    EXPECT_EQ(MessageBox::Recorded(), QStringList{"warning: " + kNotList});
    EXPECT_EQ(readFile(path("list.csv")), QByteArray("name,address\r\n"));
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, ExportIntoANewNameWritesTheListUnsortedAndStaysOpen)
{
    form->lb_EMail->item(0)->setCheckState(Qt::Unchecked);
    form->lb_EMail->insertItem(0, "zed@x.org");
    form->lb_EMail->item(0)->setCheckState(Qt::Checked);
    FileDialogs::PresetAnswers({path("fresh.csv")});
    form->btn_Export->click();
    EXPECT_EQ(readFile(path("fresh.csv")), QByteArray("zed@x.org\r\nBob@x.org\r\ncarol@x.org\r\n"));
    EXPECT_TRUE(stillOpen());
}

TEST_F(FormEMail, AFailedExportIsShownAndTheDialogStaysOpen)
{
    QDir(folder).mkdir("folder.txt");
    FileDialogs::PresetAnswers({path("folder.txt")});
    form->btn_Export->click();
    ASSERT_EQ(MessageBox::Recorded().size(), 1);
    EXPECT_TRUE(MessageBox::Recorded().constFirst().startsWith("error: "))
        << MessageBox::Recorded().constFirst().toStdString();
    EXPECT_TRUE(MessageBox::Recorded().constFirst().contains(path("folder.txt")));
    EXPECT_TRUE(QFileInfo(path("folder.txt")).isDir());
    EXPECT_TRUE(stillOpen());

    // The handler itself lets the error through to its caller.
    FileDialogs::PresetAnswers({path("folder.txt")});
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

TEST(ShowEMailDialog, ShowsTheAddressesModallyInTheCollectionsEMailFolderAndReleasesIt)
{
    QTemporaryDir tmp;
    AppDir = tmp.filePath("app") + "/";
    CollectionRoot = tmp.filePath("coll") + "/";
    CurrentLanguage = "English";
    QPointer<TForm_EMail> shown;
    QStringList rows;
    QString folderSeen;
    int checked = -1;
    bool modal = false;
    // The modal loop runs the timer; Escape ends it, and a second timer ends it anyway.
    QTimer::singleShot(0, [&] {
        shown = qobject_cast<TForm_EMail*>(QApplication::activeModalWidget());
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

    ShowEMailDialog(nullptr, {"a@x.org", "b@x.org"});
    EXPECT_TRUE(modal);
    EXPECT_EQ(rows, (QStringList{"a@x.org", "b@x.org"}));
    EXPECT_EQ(checked, 2);
    EXPECT_EQ(folderSeen, CollectionRoot + "EMail");
    EXPECT_TRUE(shown.isNull());
}

} // namespace
