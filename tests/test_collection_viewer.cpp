#include "CollectionViewer.h"
#include "TestContext.h"
#include "TestFiles.h"
#include "TestWait.h"
#include "Thumbnails.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QImage>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QSplitter>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A viewer over a temporary collection, with the English texts, with shell opens, message boxes
// and the folder chooser answered by the test.
class ViewCollection : public ContextTest
{
protected:
    void SetUp() override
    {
        if (::geteuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        oldCurrent = QDir::currentPath();
        useEnglish();
        for (const QString& sub : CollectionSubfolders())
            QDir().mkpath(paths().collectionRoot + sub);
        writeFile(paths().collectionRoot + "readme.txt", "hello");
        writeFile(paths().collectionRoot + "Photo/inner.txt", "inner");
        prompts().setNextFolders({});
        floating = std::make_unique<QWidget>();
        floating->show();
        form = std::make_unique<CollectionViewer>(context(), floating.get());
        form->trayAvailable = [] { return true; };
    }
    void TearDown() override
    {
        form.reset();
        floating.reset();
        QDir::setCurrent(oldCurrent);
    }

    QString path(const QString& rel) const { return tmp.filePath(rel); }

    // Shows Folder in the file list and selects the named files.
    void showAndSelect(const QString& folder, const QStringList& names)
    {
        form->ShowListFolder(folder);
        form->FileListBox->clearSelection();
        for (const QString& name : names) {
            const auto found = form->FileListBox->findItems(name, Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1) << name.toStdString();
            found.first()->setSelected(true);
            form->FileListBox->setCurrentItem(found.first(), QItemSelectionModel::NoUpdate);
        }
    }
    void focus(const QString& name)
    {
        const auto found = form->FileListBox->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        form->FileListBox->setCurrentItem(found.first());
    }
    QStringList menuTexts(QMenu* menu)
    {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        return out;
    }
    bool actionsEnabled()
    {
        const bool on = form->ac_Browse->isEnabled();
        EXPECT_EQ(form->ac_Copy->isEnabled(), on);
        EXPECT_EQ(form->ac_Move->isEnabled(), on);
        EXPECT_EQ(form->ac_Delete->isEnabled(), on);
        EXPECT_TRUE(form->ac_GoHome->isEnabled());
        return on;
    }

    QString oldCurrent;
    std::unique_ptr<QWidget> floating;
    std::unique_ptr<CollectionViewer> form;
};

TEST_F(ViewCollection, ToolbarAndPopupMenuHoldTheActionsInOrder)
{
    QStringList toolbar;
    for (QAction* a : form->ToolBar->actions()) {
        if (a->isSeparator())
            toolbar << "-";
        else if (QWidget* w = form->ToolBar->widgetForAction(a))
            toolbar << w->objectName();
    }
    EXPECT_EQ(toolbar, QStringList({"btn_View", "-", "btn_Copy", "btn_Move", "btn_Delete", "-",
                                    "btn_GoHome", "-", "btn_Exit"}));
    EXPECT_EQ(form->btn_View->defaultAction(), form->ac_Browse);
    EXPECT_EQ(form->btn_Delete->defaultAction(), form->ac_Delete);
    EXPECT_EQ(menuTexts(form->pm_FileList),
              QStringList({"ac_Browse", "-", "ac_Copy", "ac_Move", "ac_Delete", "-", "ac_GoHome"}));
    EXPECT_EQ(form->btn_Exit->text(), "Exit");
}

TEST_F(ViewCollection, FileActionsAreEnabledExactlyWhileAFileIsSelected)
{
    writeFile(path("f/a.txt"), "a");
    writeFile(path("f/b.txt"), "b");
    form->ShowListFolder(path("f"));
    EXPECT_FALSE(actionsEnabled());
    form->FileListBox->item(0)->setSelected(true);
    EXPECT_TRUE(actionsEnabled());
    form->FileListBox->item(1)->setSelected(true);
    EXPECT_TRUE(actionsEnabled());
    form->FileListBox->clearSelection();
    EXPECT_FALSE(actionsEnabled());
    // A focused but unselected file does not count.
    form->FileListBox->setCurrentItem(form->FileListBox->item(0), QItemSelectionModel::NoUpdate);
    EXPECT_FALSE(actionsEnabled());
    form->FileListBox->item(1)->setSelected(true);
    form->RereadList();
    EXPECT_FALSE(actionsEnabled());
}

TEST_F(ViewCollection, ShowingAppliesTheLanguageAndGoesHome)
{
    writeFile(path("elsewhere/x.txt"), "x");
    form->ShowListFolder(path("elsewhere"));
    form->FileListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    form->ShowViewer();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(floating->isVisible());
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(form->windowTitle(), "View Stashet");
    EXPECT_EQ(form->ac_Copy->text(), "&Copy to...");
    EXPECT_EQ(form->ac_Move->toolTip(), "Move selected files to other directory");
    EXPECT_EQ(form->ac_GoHome->toolTip(), "Go Collection directory");
    EXPECT_EQ(form->ac_Browse->text(), "&Open with default viewer");
    EXPECT_EQ(form->btn_Exit->toolTip(), "Close");
    EXPECT_EQ(form->FileListBox->selectionMode(), QAbstractItemView::ExtendedSelection);

    EXPECT_EQ(form->SelectedTreeFolder() + "/", paths().collectionRoot);
    EXPECT_EQ(form->ListFolder() + "/", paths().collectionRoot);
    EXPECT_EQ(form->ListedNames(), QStringList{"readme.txt"}); // files only, no subfolders
    EXPECT_TRUE(form->FolderTree->isExpanded(form->FolderTree->currentIndex()));
}

TEST_F(ViewCollection, GoHomeShowsOnlyTheRootsDirectSubfolders)
{
    QDir().mkpath(paths().collectionRoot + "Photo/Deeper");
    form->ac_GoHomeExecute();
    QFileSystemModel* model = form->FolderModel;
    const QModelIndex photo = model->index(paths().collectionRoot + "Photo");
    ASSERT_TRUE(photo.isValid());
    form->FolderTree->expand(photo);
    form->SelectTreeFolder(paths().collectionRoot + "Photo");
    EXPECT_EQ(form->ListedNames(), QStringList{"inner.txt"});

    writeFile(paths().collectionRoot + "later.txt", "new");
    form->ac_GoHomeExecute();
    const QModelIndex root = model->index(QDir::cleanPath(paths().collectionRoot));
    EXPECT_EQ(form->FolderTree->currentIndex(), root);
    EXPECT_TRUE(form->FolderTree->isExpanded(root));
    EXPECT_FALSE(form->FolderTree->isExpanded(photo));
    EXPECT_EQ(form->ListedNames(), QStringList({"later.txt", "readme.txt"}));

    // Home again with the tree already there still reads the list afresh.
    writeFile(paths().collectionRoot + "again.txt", "new");
    form->ac_GoHomeExecute();
    EXPECT_EQ(form->ListedNames(), QStringList({"again.txt", "later.txt", "readme.txt"}));
}

TEST_F(ViewCollection, GoHomeFindsACollectionBelowAHiddenFolder)
{
    paths().collectionRoot = path(".hidden/coll") + "/";
    writeFile(paths().collectionRoot + "in.txt", "x");
    form->ac_GoHomeExecute();
    EXPECT_EQ(form->SelectedTreeFolder(), path(".hidden/coll"));
    EXPECT_EQ(form->ListedNames(), QStringList{"in.txt"});
}

TEST_F(ViewCollection, ATreeItemThatIsNoFolderLeavesTheListAlone)
{
    QDir().mkpath(path("vanishing"));
    form->ac_GoHomeExecute();
    ASSERT_TRUE(form->SelectTreeFolder(path("vanishing")));
    EXPECT_EQ(form->ListFolder(), path("vanishing"));
    form->ShowListFolder(QDir::cleanPath(paths().collectionRoot));
    QDir(path("vanishing")).removeRecursively();
    form->FolderTreeChange();
    EXPECT_EQ(form->ListFolder() + "/", paths().collectionRoot);
    EXPECT_EQ(form->ListedNames(), QStringList{"readme.txt"});
    form->ShowListFolder(QString());
    EXPECT_EQ(form->ListFolder() + "/", paths().collectionRoot);
}

TEST_F(ViewCollection, PreviewDependsOnTheFileClass)
{
    const QString f = path("p");
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(Qt::red);
    QDir().mkpath(f);
    ASSERT_TRUE(image.save(f + "/shot.JPG", "JPG"));
    writeFile(f + "/song.mp3", "ID3");
    writeFile(f + "/notes.txt", "some text");
    writeFile(f + "/page.htm", "<html><body><p>Hello page</p></body></html>");
    writeFile(f + "/movie.swf", "FWS");
    writeFile(f + "/archive.zip", "PK");
    writeFile(f + "/broken.png", "not a picture");
    form->ShowListFolder(f);
    // The test's program folder holds no web engine module: pages are shown plainly.
    ASSERT_FALSE(form->Preview->HasWebEngine());
    using Shown = PreviewPane::Shown;

    EXPECT_EQ(form->Preview->shown(), Shown::Nothing);
    const struct
    {
        const char* name;
        Shown shown;
        const char* path; // what the pane shows afterwards
    } steps[] = {
        {"song.mp3", Shown::Nothing, ""},        {"shot.JPG", Shown::Image, "shot.JPG"},
        {"song.mp3", Shown::Image, "shot.JPG"},  {"archive.zip", Shown::Image, "shot.JPG"},
        {"notes.txt", Shown::Text, "notes.txt"}, {"page.htm", Shown::Html, "page.htm"},
        {"movie.swf", Shown::Note, "movie.swf"}, {"broken.png", Shown::Note, "broken.png"},
    };
    for (const auto& step : steps) {
        focus(step.name);
        form->FileListBoxClick();
        EXPECT_EQ(form->Preview->shown(), step.shown) << step.name;
        EXPECT_EQ(form->Preview->shownPath(),
                  *step.path ? f + "/" + QString::fromLatin1(step.path) : QString())
            << step.name;
    }
    focus("movie.swf");
    form->FileListBoxClick();
    EXPECT_TRUE(form->Preview->noteText().startsWith(language().text("C_NoPreview")));
    EXPECT_TRUE(form->Preview->noteText().contains("movie.swf"));
    EXPECT_FALSE(language().text("C_NoPreview").isEmpty());
}

TEST_F(ViewCollection, AMissingFileIsNotPreviewed)
{
    writeFile(path("p/gone.jpg"), "x");
    form->ShowListFolder(path("p"));
    QFile::remove(path("p/gone.jpg"));
    focus("gone.jpg");
    form->FileListBoxClick();
    EXPECT_EQ(form->Preview->shown(), PreviewPane::Shown::Nothing);
}

TEST_F(ViewCollection, OpenUsesTheDefaultProgramButPalettesGoToThePicker)
{
    writeFile(path("o/a.txt"), "a");
    writeFile(path("o/Palette.COL"), "palette");
    QStringList palettes;
    bool accept = true;
    QString readError;
    form->openPalette = [&](QWidget* owner, const QString& file, QString* ioError) {
        EXPECT_EQ(owner, form.get());
        palettes << file;
        *ioError = readError;
        return accept;
    };
    form->ShowListFolder(path("o"));
    form->FileListBoxDblClick(); // nothing selected
    EXPECT_TRUE(opened().isEmpty());

    showAndSelect(path("o"), {"a.txt"});
    form->FileListBoxDblClick();
    EXPECT_EQ(opened(), QStringList{path("o/a.txt")});

    showAndSelect(path("o"), {"Palette.COL"});
    form->ac_BrowseExecute();
    EXPECT_EQ(palettes, QStringList{path("o/Palette.COL")});
    EXPECT_EQ(opened().size(), 1);
    EXPECT_TRUE(prompts().shown().isEmpty());

    accept = false;
    form->ac_BrowseExecute();
    EXPECT_EQ(palettes.size(), 2);
    EXPECT_EQ(opened().size(), 1);
    EXPECT_EQ(prompts().shown(), QStringList{"information: " + language().text("C_BadFileFormat")});
    readError = "I/O error: no access";
    form->ac_BrowseExecute();
    EXPECT_EQ(prompts().shown().last(), "error: I/O error: no access");
    EXPECT_EQ(opened().size(), 1);

    form->openPalette = nullptr;
    form->ac_BrowseExecute();
    EXPECT_EQ(opened().last(), path("o/Palette.COL"));
}

TEST_F(ViewCollection, CopyReplacesAndDoesNotRereadTheList)
{
    writeFile(path("src/a.txt"), "new a");
    writeFile(path("src/b.txt"), "b");
    writeFile(path("src/c.txt"), "c");
    writeFile(path("dst/a.txt"), "old a");
    showAndSelect(path("src"), {"a.txt", "c.txt"});
    writeFile(path("src/later.txt"), "later");
    prompts().setNextFolders({path("dst")});
    form->ac_CopyExecute();
    EXPECT_EQ(readFile(path("dst/a.txt")), "new a");
    EXPECT_EQ(readFile(path("dst/c.txt")), "c");
    EXPECT_FALSE(QFileInfo::exists(path("dst/b.txt")));
    EXPECT_EQ(readFile(path("src/a.txt")), "new a");
    EXPECT_EQ(form->LastTargetFolder(), path("dst") + "/");
    EXPECT_EQ(prompts().shown(), QStringList{"information: " + language().text("C_CopyDone")});
    EXPECT_EQ(form->ListedNames(), QStringList({"a.txt", "b.txt", "c.txt"}));
}

TEST_F(ViewCollection, MoveLeavesBothFilesWhenTheNameIsTaken)
{
    writeFile(path("src/a.txt"), "moving a");
    writeFile(path("src/b.txt"), "b");
    writeFile(path("dst/a.txt"), "old a");
    showAndSelect(path("src"), {"a.txt", "b.txt"});
    prompts().setNextFolders({path("dst")});
    form->ac_MoveExecute();
    EXPECT_EQ(readFile(path("src/a.txt")), "moving a");
    EXPECT_EQ(readFile(path("dst/a.txt")), "old a");
    EXPECT_EQ(readFile(path("dst/b.txt")), "b");
    EXPECT_FALSE(QFileInfo::exists(path("src/b.txt")));
    EXPECT_EQ(form->ListedNames(), QStringList{"a.txt"});
    // The file that stayed is named, not passed off as done.
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown()[0].startsWith("warning: " + language().text("C_FilesNotDone")));
    EXPECT_TRUE(prompts().shown()[0].contains("a.txt"));
    EXPECT_FALSE(prompts().shown()[0].contains("b.txt"));
}

TEST_F(ViewCollection, MoveOfEverythingSaysDoneAndRereads)
{
    writeFile(path("src/a.txt"), "a");
    writeFile(path("src/b.txt"), "b");
    showAndSelect(path("src"), {"b.txt"});
    prompts().setNextFolders({path("dst")});
    form->ac_MoveExecute();
    EXPECT_EQ(readFile(path("dst/b.txt")), "b");
    EXPECT_EQ(form->ListedNames(), QStringList{"a.txt"});
    EXPECT_EQ(prompts().shown(), QStringList{"information: " + language().text("C_CopyDone")});
}

TEST_F(ViewCollection, ATypedNewFolderIsCreatedAndReceivesTheFiles)
{
    writeFile(path("src/a.txt"), "a");
    showAndSelect(path("src"), {"a.txt"});
    prompts().setNextFolders({path("made/for/copy")});
    form->ac_CopyExecute();
    EXPECT_EQ(readFile(path("made/for/copy/a.txt")), "a");
    EXPECT_EQ(form->LastTargetFolder(), path("made/for/copy") + "/");

    // A relative name is taken below the folder the chooser started at: the last target.
    prompts().setNextFolders({QStringLiteral("sub")});
    form->ac_CopyExecute();
    EXPECT_EQ(prompts().folderStarts(), QStringList{path("made/for/copy") + "/"});
    EXPECT_EQ(readFile(path("made/for/copy/sub/a.txt")), "a");
    // The process's current folder is left alone.
    EXPECT_EQ(QDir::currentPath(), oldCurrent);
}

TEST_F(ViewCollection, CopyDoesNothingWithoutSelectionOrWhenCancelled)
{
    writeFile(path("src/a.txt"), "a");
    form->ShowListFolder(path("src"));
    QDir::setCurrent(path("src"));
    prompts().setNextFolders({path("dst")});
    form->ac_CopyExecute();
    EXPECT_TRUE(prompts().folderStarts().isEmpty()); // no selection: not even asked

    showAndSelect(path("src"), {"a.txt"});
    prompts().setNextFolders({std::nullopt});
    form->ac_MoveExecute();
    EXPECT_EQ(prompts().folderStarts(), QStringList{path("src")}); // the current folder
    EXPECT_TRUE(form->LastTargetFolder().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(path("src/a.txt")));
    EXPECT_FALSE(QFileInfo::exists(path("dst")));
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(ViewCollection, CopyIntoTheSameFolderKeepsTheFilesAndSaysSo)
{
    writeFile(path("src/a.txt"), "keep me");
    showAndSelect(path("src"), {"a.txt"});
    prompts().setNextFolders({path("src")});
    form->ac_CopyExecute();
    EXPECT_EQ(readFile(path("src/a.txt")), "keep me");
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown()[0].startsWith("warning: " + language().text("C_FilesNotDone")));
}

TEST_F(ViewCollection, DeleteAsksFirstEvenWithoutSelection)
{
    writeFile(path("d/a.txt"), "a");
    writeFile(path("d/b.txt"), "b");
    form->ShowListFolder(path("d"));
    writeFile(path("d/c.txt"), "c");
    prompts().setNextAnswers({Prompts::Answer::Yes});
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(form->FileListBox, &press);
    EXPECT_EQ(prompts().shown(),
              QStringList{"question: " + language().text("C_ConfirmDeleteFiles")});
    EXPECT_EQ(form->ListedNames(), QStringList({"a.txt", "b.txt", "c.txt"})); // re-read
    EXPECT_TRUE(QFileInfo::exists(path("d/a.txt")));
}

TEST_F(ViewCollection, DeleteRemovesTheSelectedFilesOnlyAfterYes)
{
    writeFile(path("d/a.txt"), "a");
    writeFile(path("d/b.txt"), "b");
    writeFile(path("d/c.txt"), "c");
    for (Prompts::Answer answer : {Prompts::Answer::No, Prompts::Answer::Cancel}) {
        showAndSelect(path("d"), {"a.txt", "c.txt"});
        prompts().setNextAnswers({answer});
        form->ac_DeleteExecute();
        EXPECT_EQ(form->ListedNames(), QStringList({"a.txt", "b.txt", "c.txt"}));
    }
    showAndSelect(path("d"), {"a.txt", "c.txt"});
    prompts().clearShown();
    prompts().setNextAnswers({Prompts::Answer::Yes});
    form->ac_DeleteExecute();
    EXPECT_EQ(form->ListedNames(), QStringList{"b.txt"});
    EXPECT_EQ(prompts().shown().size(), 1); // the question, no message after it
}

TEST_F(ViewCollection, DeleteNamesTheFilesItCouldNotRemove)
{
    writeFile(path("d/a.txt"), "a");
    writeFile(path("d/b.txt"), "b");
    showAndSelect(path("d"), {"a.txt", "b.txt"});
    QFile::remove(path("d/a.txt"));
    QDir().mkpath(path("d/a.txt")); // a folder took its name meanwhile
    prompts().setNextAnswers({Prompts::Answer::Yes});
    form->ac_DeleteExecute();
    EXPECT_FALSE(QFileInfo::exists(path("d/b.txt")));
    ASSERT_EQ(prompts().shown().size(), 2);
    EXPECT_TRUE(
        prompts().shown()[1].startsWith("warning: " + language().text("C_FilesNotDeleted")));
    EXPECT_TRUE(prompts().shown()[1].contains("a.txt"));
}

TEST_F(ViewCollection, RestoreStepBringsBackOnlyAMinimisedViewer)
{
    form->RestoreStep();
    EXPECT_FALSE(form->isVisible());

    form->ShowViewer();
    form->setWindowState(Qt::WindowMinimized);
    form->hide(); // the main window's Hide
    form->RestoreStep();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
    EXPECT_FALSE(form->windowState() & Qt::WindowMinimized);

    form->setWindowState(Qt::WindowNoState);
    form->hide();
    form->RestoreStep();
    EXPECT_FALSE(form->isVisible());

    form->setWindowState(Qt::WindowMinimized);
    form->ShowViewer();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->windowState() & Qt::WindowMaximized);
}

TEST_F(ViewCollection, ClosingOnlyHides)
{
    form->ShowViewer();
    ASSERT_FALSE(floating->isVisible());
    form->btn_Exit->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(floating->isVisible()); // the tray icon brings it back
    form->ShowViewer();
    EXPECT_TRUE(form->isVisible());

    // Without a tray nothing else could show the floating window again.
    form->trayAvailable = [] { return false; };
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(floating->isVisible());
}

TEST_F(ViewCollection, TheTreeStartsAtTheCollectionFolder)
{
    QDir().mkpath(path("beside"));
    form->ShowViewer();
    QFileSystemModel* model = form->FolderModel;
    const QModelIndex top = form->FolderTree->rootIndex();
    ASSERT_TRUE(spinUntil([&] { return model->rowCount(top) >= 2; }, 10000));
    QStringList shown;
    for (int row = 0; row < model->rowCount(top); ++row)
        if (!form->FolderTree->isRowHidden(row, top))
            shown << model->filePath(model->index(row, 0, top));
    EXPECT_EQ(shown, QStringList{QDir::cleanPath(paths().collectionRoot)});
}

TEST_F(ViewCollection, TheListNamesFilesInFullAndShowsPicturesAsThumbnails)
{
    QImage red(300, 200, QImage::Format_RGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(paths().collectionRoot + "Photo/wide.png"));
    const QString longName = QString(120, u'x') + ".txt";
    writeFile(paths().collectionRoot + "Photo/" + longName, "text");
    writeFile(paths().collectionRoot + "Photo/fake.jpg", "no picture");
    form->ShowListFolder(paths().collectionRoot + "Photo");
    EXPECT_EQ(form->FileListBox->textElideMode(), Qt::ElideMiddle);
    const auto item = [&](const QString& name) {
        return form->FileListBox->findItems(name, Qt::MatchExactly).value(0);
    };
    ASSERT_NE(item(longName), nullptr);
    EXPECT_EQ(item(longName)->toolTip(), longName);

    ASSERT_TRUE(spinUntil([&] { return !form->Thumbnails->busy(); }, 10000));
    const QImage thumb = item("wide.png")->icon().pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(thumb.width(), 32);
    EXPECT_EQ(thumb.pixelColor(thumb.width() / 2, thumb.height() / 2), QColor(Qt::red));
    // What is no picture keeps the plain file icon.
    EXPECT_EQ(item("fake.jpg")->icon().cacheKey(), item(longName)->icon().cacheKey());
}

TEST_F(ViewCollection, PanelsHaveTheirDesignedWidths)
{
    form->ShowViewer();
    QApplication::processEvents();
    EXPECT_EQ(form->pnl_Left->width(), 388);
    EXPECT_EQ(form->FolderTree->width(), 201);
    EXPECT_EQ(form->pnl_Main->handleWidth(), 5);
    EXPECT_EQ(form->pnl_Left->handleWidth(), 5);
    EXPECT_EQ(form->ToolBar->height(), 29);
    EXPECT_EQ(form->pnl_Right->width(), form->width() - 388 - 5);
}

} // namespace
