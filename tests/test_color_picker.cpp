#include "ColorCell.h"
#include "ColorPicker.h"
#include "Desktop.h"
#include "PaletteFile.h"
#include "TestContext.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A desktop whose pointer, keys and pixels the test sets.
class FakeDesktop : public NullDesktop
{
public:
    QString name() const override { return QStringLiteral("fake"); }
    bool canSampleScreen() const override { return sample; }
    std::optional<QPoint> pointerPosition() override { return pointer; }
    bool leftButtonDown() override { return left; }
    bool escapeDown() override { return escape; }
    std::optional<QRgb> pixelAt(QPoint p) override
    {
        readAt << p;
        if (unreadable)
            return std::nullopt;
        return pixel;
    }

    bool sample = true;
    std::optional<QPoint> pointer;
    bool left = false;
    bool escape = false;
    QRgb pixel = qRgb(0, 0, 0);
    bool unreadable = false;
    QList<QPoint> readAt;
};

void Press(QWidget* widget, Qt::MouseButton button)
{
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonPress, local, widget->mapToGlobal(local), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

constexpr ColorValue White = 0x00FFFFFF;

// A picker in a temporary program folder and collection, with the screen, message boxes and
// file dialogs all stood in for.
class SaveColor : public ContextTest
{
protected:
    void SetUp() override
    {
        useEnglish();
        QDir().mkpath(paths().collectionRoot);
        standInDesktop.target = &desktop;
        prompts().setNextFileNames({});
        form = std::make_unique<ColorPicker>(context(), currentPaletteFile);
    }
    void TearDown() override { form.reset(); }

    ColorCell* cell(int number) const
    {
        for (ColorCell* c : form->cells)
            if (c->Tag() == number)
                return c;
        return nullptr;
    }
    QPoint outside() const { return form->frameGeometry().bottomRight() + QPoint(40, 40); }
    QPoint inside() const { return form->frameGeometry().center(); }
    // One capture tick with the pointer outside the dialog over a pixel of this colour.
    void captureInto(int number, QRgb rgb)
    {
        Press(cell(number), Qt::LeftButton);
        desktop.pointer = outside();
        desktop.pixel = rgb;
        form->SampleScreenColor();
    }
    QStringList edits() const
    {
        return {form->edt_ColorHex->text(), form->edt_ColorDecimal->text(), form->edt_Red->text(),
                form->edt_Green->text(), form->edt_Blue->text()};
    }
    QList<int> bars() const
    {
        return {form->sb_Red->value(), form->sb_Green->value(), form->sb_Blue->value()};
    }
    bool barsEnabled() const
    {
        return form->sb_Red->isEnabled() || form->sb_Green->isEnabled() ||
               form->sb_Blue->isEnabled();
    }
    QString colorFolder() const { return paths().collectionRoot + "Color"; }

    FakeDesktop desktop;
    QString currentPaletteFile;
    std::unique_ptr<ColorPicker> form;
};

TEST_F(SaveColor, FreshPicker)
{
    ASSERT_EQ(form->cells.size(), 24);
    const int columns[] = {9, 41, 73, 105, 137, 169};
    const int rows[] = {54, 79, 105, 130};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 6; ++c) {
            ColorCell* at = cell(6 * r + c + 1);
            ASSERT_NE(at, nullptr);
            EXPECT_EQ(at->x(), columns[c]);
            if (at->Tag() != 1) {
                EXPECT_EQ(at->y(), rows[r]);
            }
            EXPECT_EQ(at->color(), White);
        }
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(form->cells[i]->Tag(), PaletteWriteOrder()[size_t(i)]);
    EXPECT_EQ(form->SelectedCell(), cell(1));
    EXPECT_EQ(form->CaptureTimer->interval(), 50);
    EXPECT_FALSE(form->Capturing());
    EXPECT_FALSE(barsEnabled());
    EXPECT_EQ(form->sb_Red->maximum(), 255);
    EXPECT_EQ(edits(), QStringList({"", "", "", "", ""}));
    EXPECT_EQ(form->btn_Change->text(), "&Change");

    QStringList items;
    for (QAction* a : form->pm_CopyColor->actions())
        if (a->isVisible())
            items << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(items, QStringList({"m_WebPage", "m_Delphi", "m_VB", "-", "m_Standard"}));
    EXPECT_EQ(form->size(), QSize(299, 300));
}

TEST_F(SaveColor, ShowingAppliesTheLanguage)
{
    form->show();
    EXPECT_EQ(form->windowTitle(), "Color collection");
    EXPECT_EQ(form->lbl_Help->text(), language().text("Form_SaveColor.lbl_Help.Caption"));
    EXPECT_EQ(form->btn_Load->text(), "&Load from file");
    EXPECT_EQ(form->btn_SaveAs->text(), "Save &as...");
    EXPECT_EQ(form->btn_Save->text(), "&Save");
    EXPECT_EQ(form->btn_CopyColor->text(), "C&opy Color");
    EXPECT_EQ(form->gb_ColorValue->title(), "Color Value");
    EXPECT_EQ(form->lbl_ColorDecimal->text(), "Color decimal");
    EXPECT_EQ(form->m_VC->text(), "Visual C++ Format");
    EXPECT_EQ(form->m_Standard->text(), "Standard format");
    const QFont font = language().font();
    for (QWidget* w :
         {static_cast<QWidget*>(form->lbl_ColorHex), static_cast<QWidget*>(form->lbl_ColorDecimal),
          static_cast<QWidget*>(form->lbl_Help), static_cast<QWidget*>(form->gb_ColorValue)}) {
        EXPECT_EQ(w->font().families(), font.families());
        EXPECT_EQ(w->font().pointSize(), font.pointSize());
        EXPECT_FALSE(w->font().bold());
    }

    // A language without these keys empties the captions; the fixed ones stay.
    form->hide();
    WriteAll(paths().programDir + "Bare.LAG", "[Translations]\r\nC_CloseIE=x\r\n");
    language().setLanguage("Bare");
    form->show();
    EXPECT_EQ(form->windowTitle(), "");
    EXPECT_EQ(form->btn_Save->text(), "");
    EXPECT_EQ(form->m_WebPage->text(), "");
    EXPECT_EQ(form->btn_Change->text(), "&Change");
    EXPECT_EQ(form->lbl_Red->text(), "R:");
}

TEST_F(SaveColor, LeftClickSelectsShowsAndStartsCapture)
{
    Press(cell(9), Qt::LeftButton);
    EXPECT_EQ(form->SelectedCell(), cell(9));
    EXPECT_EQ(form->shp_Focus->pos(), cell(9)->pos() - QPoint(4, 4));
    EXPECT_EQ(edits(), QStringList({"#FFFFFF", "16777215", "255", "255", "255"}));
    EXPECT_EQ(bars(), QList<int>({255, 255, 255}));
    EXPECT_FALSE(barsEnabled());
    EXPECT_TRUE(form->Capturing());
    // The middle button starts a capture too, in the cell clicked.
    Press(cell(20), Qt::MiddleButton);
    EXPECT_EQ(form->SelectedCell(), cell(20));
    EXPECT_TRUE(form->Capturing());
}

TEST_F(SaveColor, CaptureTicks)
{
    form->show();
    Press(cell(4), Qt::LeftButton);
    desktop.pixel = qRgb(18, 52, 86);

    // Over the dialog nothing is taken, and neither the held button nor Escape stops capture.
    desktop.pointer = inside();
    desktop.left = true;
    form->SampleScreenColor();
    desktop.left = false;
    desktop.escape = true;
    form->SampleScreenColor();
    desktop.pointer = form->frameGeometry().topLeft();
    form->SampleScreenColor();
    EXPECT_TRUE(form->Capturing());
    EXPECT_TRUE(desktop.readAt.isEmpty());
    EXPECT_EQ(cell(4)->color(), White);

    // Outside, the pixel under the pointer goes into the cell.
    desktop.escape = false;
    desktop.pointer = form->frameGeometry().topLeft() + QPoint(form->frameGeometry().width(), 0);
    form->SampleScreenColor();
    ASSERT_EQ(desktop.readAt.size(), 1);
    EXPECT_EQ(desktop.readAt[0], *desktop.pointer);
    EXPECT_EQ(cell(4)->color(), MakeColor(18, 52, 86));
    EXPECT_EQ(edits(), QStringList({"#123456", "5649426", "18", "52", "86"}));
    EXPECT_EQ(bars(), QList<int>({18, 52, 86}));
    EXPECT_FALSE(barsEnabled());
    EXPECT_TRUE(form->Capturing());

    // An unreadable pixel leaves the cell alone instead of blackening it.
    desktop.pixel = qRgb(1, 1, 1);
    desktop.unreadable = true;
    form->SampleScreenColor();
    EXPECT_EQ(cell(4)->color(), MakeColor(18, 52, 86));
    desktop.unreadable = false;

    // Escape held outside stops at the first tick, without taking a colour.
    desktop.pixel = qRgb(1, 1, 1);
    desktop.escape = true;
    form->SampleScreenColor();
    EXPECT_FALSE(form->Capturing());
    EXPECT_EQ(cell(4)->color(), MakeColor(18, 52, 86));
    EXPECT_EQ(desktop.readAt.size(), 2);

    // So does the left button.
    desktop.escape = false;
    Press(cell(4), Qt::LeftButton);
    desktop.left = true;
    form->SampleScreenColor();
    EXPECT_FALSE(form->Capturing());
    EXPECT_EQ(cell(4)->color(), MakeColor(18, 52, 86));
}

TEST_F(SaveColor, ScreenThatCannotBeReadIsSaidPlainly)
{
    desktop.sample = false;
    form->show();
    EXPECT_EQ(form->lbl_Help->text(), language().text("C_CannotReadScreen"));
    EXPECT_FALSE(form->lbl_Help->text().isEmpty());
    Press(cell(2), Qt::LeftButton);
    EXPECT_EQ(form->SelectedCell(), cell(2));
    EXPECT_FALSE(form->Capturing());
}

TEST_F(SaveColor, RightClickDuringCaptureSelectsStopsAndOffersCopy)
{
    form->show();
    Press(cell(1), Qt::LeftButton);
    ASSERT_TRUE(form->Capturing());
    Press(cell(8), Qt::RightButton);
    EXPECT_EQ(form->SelectedCell(), cell(8));
    EXPECT_FALSE(form->Capturing());
    EXPECT_TRUE(form->pm_CopyColor->isVisible());
    const QRect frame = form->shp_Focus->geometry();
    EXPECT_EQ(form->pm_CopyColor->pos(), form->mapToGlobal(frame.bottomLeft() + QPoint(0, 1)));
    form->pm_CopyColor->hide();
}

TEST_F(SaveColor, CaptureHoldsTheMouseAndAnyPressEndsIt)
{
    form->show();
    Press(cell(5), Qt::LeftButton);
    ASSERT_TRUE(form->Capturing());
    EXPECT_EQ(QWidget::mouseGrabber(), form.get());

    // The stopping press, wherever it is, comes to the picker and ends the capture there: the
    // window under the pointer never sees it, and no tick has to catch the button held.
    const QPointF global(outside());
    QMouseEvent press(QEvent::MouseButtonPress, form->mapFromGlobal(global), global, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &press);
    EXPECT_TRUE(press.isAccepted());
    EXPECT_FALSE(form->Capturing());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(form->SelectedCell(), cell(5));
}

TEST_F(SaveColor, CopyButtonStopsCaptureAndOpensTheMenuBelowIt)
{
    form->show();
    Press(cell(3), Qt::LeftButton);
    Press(form->btn_CopyColor, Qt::RightButton);
    EXPECT_FALSE(form->Capturing());
    EXPECT_TRUE(form->pm_CopyColor->isVisible());
    EXPECT_EQ(form->pm_CopyColor->pos(),
              form->btn_CopyColor->mapToGlobal(QPoint(0, form->btn_CopyColor->height())));
    form->pm_CopyColor->hide();
}

TEST_F(SaveColor, CopyFormatsGoToTheClipboard)
{
    captureInto(6, qRgb(1, 2, 3));
    const struct
    {
        QAction* item;
        const char* text;
    } cases[] = {{form->m_WebPage, "#010203"},
                 {form->m_Delphi, "$00030201"},
                 {form->m_VB, "&H00030201&"},
                 {form->m_Standard, "00030201H"}};
    for (const auto& c : cases) {
        QGuiApplication::clipboard()->setText("before");
        c.item->trigger();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.text);
    }
    QGuiApplication::clipboard()->setText("before");
    form->m_VC->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

TEST_F(SaveColor, UndoAfterMovingOnlyGreenRestoresTheCell)
{
    captureInto(5, qRgb(10, 20, 30));
    form->btn_Change->click();
    EXPECT_EQ(form->btn_Change->text(), "&Undo");
    EXPECT_FALSE(form->Capturing());
    EXPECT_TRUE(form->sb_Green->isEnabled());

    form->sb_Green->setValue(200);
    EXPECT_EQ(cell(5)->color(), MakeColor(10, 200, 30));
    EXPECT_EQ(edits(),
              QStringList({"#0AC81E", QString::number(MakeColor(10, 200, 30)), "10", "200", "30"}));

    form->btn_Change->click();
    EXPECT_EQ(form->btn_Change->text(), "&Change");
    EXPECT_EQ(cell(5)->color(), MakeColor(10, 20, 30));
    EXPECT_EQ(edits(), QStringList({"#0A141E", "1971210", "10", "20", "30"}));
    EXPECT_FALSE(barsEnabled());
}

TEST_F(SaveColor, ClickingAnotherCellCommitsTheEdit)
{
    Press(cell(2), Qt::LeftButton);
    form->btn_Change->click();
    form->sb_Red->setValue(0);
    EXPECT_EQ(cell(2)->color(), MakeColor(0, 255, 255));
    Press(cell(3), Qt::LeftButton);
    EXPECT_EQ(form->btn_Change->text(), "&Change");
    EXPECT_EQ(cell(2)->color(), MakeColor(0, 255, 255));
    EXPECT_EQ(form->SelectedCell(), cell(3));
    EXPECT_EQ(bars(), QList<int>({255, 255, 255}));
    EXPECT_FALSE(barsEnabled());
    EXPECT_TRUE(form->Capturing());
}

TEST_F(SaveColor, EscapeKeyDoesNotCloseThePickerAndHidingStopsCapture)
{
    form->show();
    Press(cell(7), Qt::LeftButton);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(form.get(), &escape);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->Capturing());
    form->close();
    EXPECT_FALSE(form->Capturing());
}

TEST_F(SaveColor, SaveOfAFreshPickerAsksForANameInTheColorFolder)
{
    prompts().setNextFileNames({tmp.filePath("coll/Color/first")});
    form->btn_Save->click();
    const QString saved = colorFolder() + "/first.col";
    EXPECT_EQ(prompts().fileQuestions(), QStringList({"save: " + colorFolder()}));
    EXPECT_EQ(ReadAll(saved), PaletteBytes(form->Colors()));
    EXPECT_TRUE(
        ReadAll(saved).startsWith(QByteArray(PaletteHeader.toUtf8() + "\r\nclWhite,1\r\n")));
    EXPECT_EQ(currentPaletteFile, saved);
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(SaveColor, SaveAfterLoadWritesWithoutQuestionAndTheFileOutlivesThePicker)
{
    const QString path = tmp.filePath("mine.col");
    WriteAll(path, PaletteHeader.toUtf8() + "\r\nclRed,3\r\nclRed,3\r\nbad\r\nclLime,1\r\n");
    prompts().setNextFileNames({path});
    form->btn_Load->click();
    EXPECT_EQ(prompts().fileQuestions(), QStringList({"open: " + colorFolder()}));
    EXPECT_EQ(currentPaletteFile, path);
    EXPECT_EQ(cell(3)->color(), 0xFFu);
    EXPECT_EQ(cell(1)->color(), 0xFF00u);
    EXPECT_EQ(cell(2)->color(), 0u);

    captureInto(24, qRgb(18, 52, 86));
    form->btn_Save->click();
    PaletteCells expected{};
    expected[0] = 0xFF00;
    expected[2] = 0xFF;
    expected[23] = MakeColor(18, 52, 86);
    EXPECT_EQ(ReadAll(path), PaletteBytes(expected));
    EXPECT_EQ(prompts().fileQuestions().size(), 1);
    EXPECT_TRUE(prompts().shown().isEmpty());

    // A new picker starts white but still saves into that file, without a question.
    form = std::make_unique<ColorPicker>(context(), currentPaletteFile);
    EXPECT_EQ(form->Colors()[0], White);
    form->btn_Save->click();
    PaletteCells white;
    white.fill(White);
    EXPECT_EQ(ReadAll(path), PaletteBytes(white));
    EXPECT_EQ(prompts().fileQuestions().size(), 1);
    EXPECT_TRUE(prompts().shown().isEmpty());
}

TEST_F(SaveColor, SaveAsOverAnExistingFileAsksFirst)
{
    const QString path = colorFolder() + "/old.col";
    QDir().mkpath(colorFolder());
    WriteAll(path, "keep me");
    currentPaletteFile = tmp.filePath("elsewhere.col");

    prompts().setNextFileNames({path});
    prompts().setNextAnswers({Prompts::Answer::No});
    form->btn_SaveAs->click();
    EXPECT_EQ(ReadAll(path), "keep me");
    EXPECT_EQ(prompts().shown(), QStringList({"question: " + language().text("C_OverridePrompt")}));
    EXPECT_EQ(currentPaletteFile, tmp.filePath("elsewhere.col"));

    prompts().setNextFileNames({path});
    prompts().setNextAnswers({Prompts::Answer::Cancel});
    form->btn_SaveAs->click();
    EXPECT_EQ(ReadAll(path), "keep me");

    prompts().setNextFileNames({path});
    prompts().setNextAnswers({Prompts::Answer::Yes});
    form->btn_SaveAs->click();
    EXPECT_EQ(ReadAll(path), PaletteBytes(form->Colors()));
    EXPECT_EQ(currentPaletteFile, path);
    EXPECT_FALSE(QFile::exists(tmp.filePath("elsewhere.col")));

    // Cancelling the file question writes nothing.
    prompts().setNextFileNames({});
    form->btn_SaveAs->click();
    EXPECT_EQ(currentPaletteFile, path);
}

TEST_F(SaveColor, FailedSaveIsReportedAndChangesNothing)
{
    WriteAll(tmp.filePath("plainfile"), "x");
    prompts().setNextFileNames({tmp.filePath("plainfile/p.col")});
    form->btn_Save->click();
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown()[0].startsWith("error: "));
    EXPECT_TRUE(currentPaletteFile.isEmpty());
}

TEST_F(SaveColor, RefusedOrUnreadableLoadsChangeNothing)
{
    const QString good = tmp.filePath("good.col");
    WriteAll(good, PaletteHeader.toUtf8() + "\r\nclBlue,1\r\n");
    ASSERT_TRUE(form->LoadPaletteFile(good));
    captureInto(2, qRgb(9, 9, 9));
    const PaletteCells before = form->Colors();

    const QString bad = tmp.filePath("bad.col");
    WriteAll(bad, PaletteHeader.toUtf8() + " \r\nclRed,1\r\n");
    prompts().setNextFileNames({bad});
    form->btn_Load->click();
    EXPECT_EQ(prompts().shown(),
              QStringList({"information: " + language().text("C_BadFileFormat")}));
    EXPECT_EQ(form->Colors(), before);
    EXPECT_EQ(currentPaletteFile, good);

    prompts().clearShown();
    prompts().setNextFileNames({tmp.filePath("typed-but-missing")});
    form->btn_Load->click();
    ASSERT_EQ(prompts().shown().size(), 1);
    EXPECT_TRUE(prompts().shown()[0].startsWith("error: "));
    EXPECT_TRUE(prompts().shown()[0].contains("typed-but-missing.col"));
    EXPECT_EQ(form->Colors(), before);
    EXPECT_EQ(currentPaletteFile, good);

    // The viewer's way in tells the two failures apart.
    QString ioError;
    EXPECT_FALSE(form->LoadPaletteFile(bad, &ioError));
    EXPECT_TRUE(ioError.isEmpty());
    EXPECT_FALSE(form->LoadPaletteFile(tmp.filePath("none.col"), &ioError));
    EXPECT_FALSE(ioError.isEmpty());
}

TEST_F(SaveColor, EmptyFileLoadsAsAllBlack)
{
    const QString path = tmp.filePath("empty.col");
    WriteAll(path, "");
    EXPECT_TRUE(form->LoadPaletteFile(path));
    EXPECT_EQ(form->Colors(), PaletteCells{});
    EXPECT_EQ(currentPaletteFile, path);
}

TEST_F(SaveColor, LoadEndsAnEditAndUndoKeepsSystemColoursExact)
{
    const QString path = tmp.filePath("sys.col");
    WriteAll(path, PaletteHeader.toUtf8() + "\r\nclWindow,1\r\nclRed,2\r\n");
    Press(cell(2), Qt::RightButton);
    form->pm_CopyColor->hide();
    form->btn_Change->click();
    form->sb_Blue->setValue(99);
    ASSERT_TRUE(form->LoadPaletteFile(path));
    EXPECT_EQ(form->btn_Change->text(), "&Change");
    EXPECT_FALSE(barsEnabled());
    EXPECT_EQ(cell(2)->color(), 0xFFu);
    EXPECT_EQ(edits(), QStringList({"#FF0000", "255", "255", "0", "0"}));

    Press(cell(1), Qt::RightButton);
    form->pm_CopyColor->hide();
    form->btn_Change->click();
    form->sb_Blue->setValue(7);
    EXPECT_EQ(cell(1)->color(), MakeColor(5, 0, 7));
    form->btn_Change->click();
    EXPECT_EQ(cell(1)->color(), 0xFF000005u);
}

} // namespace
