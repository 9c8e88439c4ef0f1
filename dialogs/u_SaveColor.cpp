#include "u_SaveColor.h"

#include "Desktop.h"
#include "Errors.h"
#include "FileDialogs.h"
#include "FormFace.h"
#include "MessageBox.h"
#include "u_Language.h"
#include "u_Store.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

namespace {

const QString ChangeCaption = QStringLiteral("&Change");
const QString UndoCaption = QStringLiteral("&Undo");

QString PaletteFilter()
{
    return QStringLiteral("Color Files(*.col);;All Files(*)");
}

// The palette role that stands for a Windows system-colour index, so that a cell loaded with a
// system colour is painted in the desktop's matching colour.
QColor SystemColor(int index)
{
    const QPalette pal = QGuiApplication::palette();
    switch (index) {
    case 2:  // active caption
    case 13: // highlight
    case 27: // gradient active caption
    case 29: // menu highlight
        return pal.color(QPalette::Highlight);
    case 9:  // caption text
    case 14: // highlight text
        return pal.color(QPalette::HighlightedText);
    case 5: // window
        return pal.color(QPalette::Base);
    case 7:  // menu text
    case 19: // inactive caption text
        return pal.color(QPalette::WindowText);
    case 8: // window text
        return pal.color(QPalette::Text);
    case 15: // button face
        return pal.color(QPalette::Button);
    case 18: // button text
        return pal.color(QPalette::ButtonText);
    case 17: // grey text
        return pal.color(QPalette::Disabled, QPalette::Text);
    case 20: // button highlight
        return pal.color(QPalette::Light);
    case 22: // 3D light
        return pal.color(QPalette::Midlight);
    case 1:  // desktop background
    case 16: // button shadow
        return pal.color(QPalette::Dark);
    case 6:  // window frame
    case 21: // 3D dark shadow
        return pal.color(QPalette::Shadow);
    case 23: // info text
        return pal.color(QPalette::ToolTipText);
    case 24: // info background
        return pal.color(QPalette::ToolTipBase);
    case 26: // hot light
        return pal.color(QPalette::Link);
    case 0:  // scroll bar
    case 3:  // inactive caption
    case 12: // application workspace
    case 28: // gradient inactive caption
        return pal.color(QPalette::Mid);
    default: // borders, menus, menu bar
        return pal.color(QPalette::Window);
    }
}

// How a cell shows a colour value: system colours in the desktop's colours, "none" as nothing.
QColor PaintColor(ColorValue color)
{
    if ((color >> 24) == 0xFF)
        return SystemColor(int(color & 0xFF));
    if (color == 0x20000000u) // the default colour
        return QGuiApplication::palette().color(QPalette::Base);
    if (color == 0x1FFFFFFFu) // no colour
        return QColor(Qt::transparent);
    const ColorBytes c = SplitColor(color);
    return QColor(c.red, c.green, c.blue);
}

// The rounded band behind the help text.
class HelpBand : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 197, 70));
        p.drawRoundedRect(rect(), 8, 8);
    }
};

QPushButton* Button(QWidget* parent, const char* name, const char* caption, const QRect& geometry)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    // No button answers Enter: typing into the dialog must not save or load by accident.
    button->setAutoDefault(false);
    return button;
}

QLabel* Label(QWidget* parent, const char* caption, const QRect& geometry)
{
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setGeometry(geometry);
    return label;
}

QLineEdit* ReadOnlyEdit(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    edit->setReadOnly(true);
    return edit;
}

QScrollBar* ColorBar(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(geometry);
    bar->setRange(0, 255);
    bar->setPageStep(16);
    return bar;
}

QAction* MenuItem(QMenu* menu, const char* name, const char* caption)
{
    QAction* item = menu->addAction(QString::fromUtf8(caption));
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

} // namespace

TColorCell::TColorCell(int tag, QWidget* parent) : QWidget(parent), m_tag(tag)
{
    setObjectName(QStringLiteral("Shape%1").arg(tag));
}

void TColorCell::setColor(ColorValue color)
{
    m_color = color;
    update();
}

void TColorCell::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(PaintColor(m_color));
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = qMin(r.width(), r.height()) / 4;
    p.drawRoundedRect(r, radius, radius);
}

void TColorCell::mousePressEvent(QMouseEvent* event)
{
    Q_EMIT mouseDown(this, event->button());
    event->accept();
}

TForm_SaveColor::TForm_SaveColor(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form_SaveColor"));
    setWindowTitle(QStringLiteral("Color collection"));
    setFixedSize(299, 300);
    PaintFormFace(this);

    shp_Band = new HelpBand(this);
    shp_Band->setGeometry(0, 0, 299, 47);
    lbl_Help = new QLabel(QStringLiteral("Select a cell and Start Capure.\nPress ESC Key or Left "
                                         "Mouse button\nto Stop Capture!"),
                          this);
    lbl_Help->setObjectName(QStringLiteral("lbl_Help"));
    lbl_Help->setGeometry(4, 1, 291, 45);
    lbl_Help->setAlignment(Qt::AlignCenter);
    lbl_Help->setWordWrap(true);
    QFont bold = lbl_Help->font();
    bold.setBold(true);
    lbl_Help->setFont(bold);

    // The frame is made before the cells so that it lies behind them.
    shp_Focus = new QWidget(this);
    shp_Focus->setObjectName(QStringLiteral("shp_Focus"));
    shp_Focus->setGeometry(5, 50, 33, 24);
    QPalette focusPal = shp_Focus->palette();
    focusPal.setColor(QPalette::Window, SystemColor(0));
    shp_Focus->setPalette(focusPal);
    shp_Focus->setAutoFillBackground(true);

    static const int columns[6] = {9, 41, 73, 105, 137, 169};
    static const int rows[4] = {54, 79, 105, 130};
    for (const int number : PaletteWriteOrder()) {
        const int row = (number - 1) / 6;
        const int column = (number - 1) % 6;
        auto* cell = new TColorCell(number, this);
        if (number == 1)
            cell->setGeometry(columns[column], 56, 25, 15);
        else
            cell->setGeometry(columns[column], rows[row], 25, 17);
        connect(cell, &TColorCell::mouseDown, this, &TForm_SaveColor::Shape1MouseDown);
        cells << cell;
    }

    btn_Load = Button(this, "btn_Load", "&Load from file", QRect(204, 52, 88, 23));
    btn_SaveAs = Button(this, "btn_SaveAs", "Save &as...", QRect(204, 77, 88, 23));
    btn_Save = Button(this, "btn_Save", "&Save", QRect(204, 102, 88, 23));
    btn_CopyColor = Button(this, "btn_CopyColor", "C&opy Color", QRect(204, 127, 88, 23));

    gb_ColorValue = new QGroupBox(QStringLiteral("Color Value"), this);
    gb_ColorValue->setObjectName(QStringLiteral("gb_ColorValue"));
    gb_ColorValue->setGeometry(5, 152, 289, 143);
    lbl_ColorHex = Label(gb_ColorValue, "Color Hex", QRect(10, 22, 76, 16));
    lbl_ColorDecimal = Label(gb_ColorValue, "Color decimal", QRect(10, 48, 76, 16));
    edt_ColorHex = ReadOnlyEdit(gb_ColorValue, "edt_ColorHex", QRect(88, 19, 84, 21));
    edt_ColorDecimal = ReadOnlyEdit(gb_ColorValue, "edt_ColorDecimal", QRect(88, 45, 84, 21));
    btn_Change = Button(gb_ColorValue, "btn_Change", "&Change", QRect(184, 19, 95, 25));
    lbl_Red = Label(gb_ColorValue, "R:", QRect(10, 75, 16, 16));
    lbl_Green = Label(gb_ColorValue, "G:", QRect(10, 98, 16, 16));
    lbl_Blue = Label(gb_ColorValue, "B:", QRect(10, 121, 16, 16));
    edt_Red = ReadOnlyEdit(gb_ColorValue, "edt_Red", QRect(28, 72, 40, 21));
    edt_Green = ReadOnlyEdit(gb_ColorValue, "edt_Green", QRect(28, 95, 40, 21));
    edt_Blue = ReadOnlyEdit(gb_ColorValue, "edt_Blue", QRect(28, 118, 40, 21));
    sb_Red = ColorBar(gb_ColorValue, "sb_Red", QRect(74, 74, 205, 17));
    sb_Green = ColorBar(gb_ColorValue, "sb_Green", QRect(74, 97, 205, 17));
    sb_Blue = ColorBar(gb_ColorValue, "sb_Blue", QRect(74, 120, 205, 17));
    for (QScrollBar* bar : {sb_Red, sb_Green, sb_Blue})
        connect(bar, &QScrollBar::valueChanged, this, [this, bar] {
            if (!m_quietBars)
                sb_RedChange(bar);
        });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(50);
    connect(Timer1, &QTimer::timeout, this, &TForm_SaveColor::Timer1Timer);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    m_WebPage = MenuItem(PopupMenu1, "m_WebPage", "Web page format");
    m_Delphi = MenuItem(PopupMenu1, "m_Delphi", "Delphi format");
    m_VB = MenuItem(PopupMenu1, "m_VB", "Visual Basic format");
    m_VC = MenuItem(PopupMenu1, "m_VC", "Visual C++ Format");
    m_VC->setVisible(false);
    PopupMenu1->addSeparator();
    m_Standard = MenuItem(PopupMenu1, "m_Standard", "Standard format");
    connect(PopupMenu1, &QMenu::triggered, this, &TForm_SaveColor::m_WebPageClick);

    connect(btn_Change, &QPushButton::clicked, this, &TForm_SaveColor::btn_ChangeClick);
    connect(btn_Save, &QPushButton::clicked, this, &TForm_SaveColor::btn_SaveClick);
    connect(btn_SaveAs, &QPushButton::clicked, this, &TForm_SaveColor::btn_SaveAsClick);
    connect(btn_Load, &QPushButton::clicked, this, &TForm_SaveColor::btn_LoadClick);
    // A mouse press opens the copy menu at once (the filter swallows it); a keyboard click, which
    // no press precedes, opens it too.
    btn_CopyColor->installEventFilter(this);
    connect(btn_CopyColor, &QPushButton::clicked, this, &TForm_SaveColor::btn_CopyColorMouseDown);

    FormCreate();
}

TForm_SaveColor::~TForm_SaveColor() = default;

void TForm_SaveColor::FormCreate()
{
    m_selected = cells.first();
    LockColorBars(true);
}

void TForm_SaveColor::FormShow()
{
    ApplyLanguage();
    // Where the screen cannot be read, a capture would only ever take black.
    if (!Desktop().canSampleScreen())
        lbl_Help->setText(Translate(QStringLiteral("C_CannotReadScreen")));
}

void TForm_SaveColor::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        if (!m_placed) {
            m_placed = true;
            QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
            if (!screen)
                screen = QGuiApplication::primaryScreen();
            if (screen)
                move(screen->availableGeometry().center() - rect().center());
        }
        FormShow();
    }
    QDialog::showEvent(event);
}

void TForm_SaveColor::hideEvent(QHideEvent* event)
{
    // A hidden picker (the viewer keeps its picker after closing) must not go on reading the
    // screen.
    StopCapture();
    QDialog::hideEvent(event);
}

void TForm_SaveColor::keyPressEvent(QKeyEvent* event)
{
    // Escape stops a capture; it must not also close the picker and lose its colours.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TForm_SaveColor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == btn_CopyColor && event->type() == QEvent::MouseButtonPress) {
        btn_CopyColorMouseDown();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_SaveColor::ApplyLanguage()
{
    setWindowTitle(Translate(QStringLiteral("Form_SaveColor.Caption")));
    lbl_Help->setText(Translate(QStringLiteral("Form_SaveColor.lbl_Help.Caption")));
    btn_Load->setText(Translate(QStringLiteral("Form_SaveColor.btn_Load.Caption")));
    btn_SaveAs->setText(Translate(QStringLiteral("Form_SaveColor.btn_SaveAs.Caption")));
    btn_Save->setText(Translate(QStringLiteral("Form_SaveColor.btn_Save.Caption")));
    btn_CopyColor->setText(Translate(QStringLiteral("Form_SaveColor.btn_CopyColor.Caption")));
    gb_ColorValue->setTitle(Translate(QStringLiteral("Form_SaveColor.gb_ColorValue.Caption")));
    lbl_ColorHex->setText(Translate(QStringLiteral("Form_SaveColor.lbl_ColorHex.Caption")));
    lbl_ColorDecimal->setText(Translate(QStringLiteral("Form_SaveColor.lbl_ColorDecimal.Caption")));
    m_WebPage->setText(Translate(QStringLiteral("Form_SaveColor.m_WebPage.Caption")));
    m_Delphi->setText(Translate(QStringLiteral("Form_SaveColor.m_Delphi.Caption")));
    m_VB->setText(Translate(QStringLiteral("Form_SaveColor.m_VB.Caption")));
    m_VC->setText(Translate(QStringLiteral("Form_SaveColor.m_VC.Caption")));
    m_Standard->setText(Translate(QStringLiteral("Form_SaveColor.m_Standard.Caption")));
    // The language font replaces the whole font, the help text's boldness included.
    const QFont font = LanguageFont();
    for (QWidget* w : {static_cast<QWidget*>(lbl_ColorHex), static_cast<QWidget*>(lbl_ColorDecimal),
                       static_cast<QWidget*>(lbl_Help), static_cast<QWidget*>(gb_ColorValue)})
        w->setFont(font);
}

PaletteCells TForm_SaveColor::Colors() const
{
    PaletteCells colors{};
    for (const TColorCell* cell : cells)
        colors[cell->Tag() - 1] = cell->color();
    return colors;
}

bool TForm_SaveColor::Capturing() const
{
    return Timer1->isActive();
}

bool TForm_SaveColor::EditingColor() const
{
    return btn_Change->text().compare(UndoCaption, Qt::CaseInsensitive) == 0;
}

void TForm_SaveColor::StopCapture()
{
    Timer1->stop();
}

void TForm_SaveColor::LockColorBars(bool lock)
{
    for (QScrollBar* bar : {sb_Red, sb_Green, sb_Blue})
        bar->setEnabled(!lock);
}

void TForm_SaveColor::ShowColorValue(ColorValue color)
{
    edt_ColorHex->setText(FormatColor(color, CopyFormat::WebPage));
    edt_ColorDecimal->setText(DecimalText(color));
}

void TForm_SaveColor::SetBarsQuietly(ColorBytes bytes)
{
    m_quietBars = true;
    sb_Red->setValue(bytes.red);
    sb_Green->setValue(bytes.green);
    sb_Blue->setValue(bytes.blue);
    m_quietBars = false;
}

void TForm_SaveColor::ShowCellColor()
{
    const ColorBytes bytes = SplitColor(m_selected->color());
    edt_Red->setText(QString::number(bytes.red));
    edt_Green->setText(QString::number(bytes.green));
    edt_Blue->setText(QString::number(bytes.blue));
    SetBarsQuietly(bytes);
    LockColorBars(true);
}

void TForm_SaveColor::Shape1MouseDown(TColorCell* cell, Qt::MouseButton button)
{
    // Switching cells commits an edit in progress.
    if (EditingColor())
        btn_Change->setText(ChangeCaption);
    m_selected = cell;
    shp_Focus->move(cell->x() - 4, cell->y() - 4);
    ShowColorValue(cell->color());
    ShowCellColor();
    if (button == Qt::RightButton) {
        StopCapture();
        PopupMenu1->popup(
            mapToGlobal(QPoint(shp_Focus->x(), shp_Focus->y() + shp_Focus->height())));
    } else if (Desktop().canSampleScreen()) {
        Timer1->start();
    }
}

QRect TForm_SaveColor::NativeWindowRect() const
{
    // The desktop layer reports the pointer in device pixels.
    const QRect r = frameGeometry();
    const qreal ratio = devicePixelRatioF();
    if (ratio == 1.0)
        return r;
    return QRect(QPoint(qRound(r.x() * ratio), qRound(r.y() * ratio)),
                 QSize(qRound(r.width() * ratio), qRound(r.height() * ratio)));
}

void TForm_SaveColor::Timer1Timer()
{
    DesktopPlatform& desktop = Desktop();
    const std::optional<QPoint> pointer = desktop.pointerPosition();
    if (!pointer)
        return;
    if (NativeWindowRect().contains(*pointer))
        return;
    if (desktop.escapeDown() || desktop.leftButtonDown()) {
        StopCapture();
        return;
    }
    // A pixel that cannot be read leaves the cell as it is rather than making it black.
    const std::optional<QRgb> pixel = desktop.pixelAt(*pointer);
    if (!pixel)
        return;
    const ColorValue color = ColorFromRgb(*pixel);
    m_selected->setColor(color);
    ShowColorValue(color);
    ShowCellColor();
}

void TForm_SaveColor::sb_RedChange(QScrollBar* bar)
{
    const QString name = bar->objectName();
    QLineEdit* edit = name == QLatin1String("sb_Red")     ? edt_Red
                      : name == QLatin1String("sb_Green") ? edt_Green
                                                          : edt_Blue;
    edit->setText(QString::number(bar->value()));
    const ColorValue color =
        MakeColor(quint8(sb_Red->value()), quint8(sb_Green->value()), quint8(sb_Blue->value()));
    m_selected->setColor(color);
    ShowColorValue(color);
}

void TForm_SaveColor::btn_ChangeClick()
{
    StopCapture();
    if (!EditingColor()) {
        btn_Change->setText(UndoCaption);
        m_undoColor = {quint8(sb_Red->value()), quint8(sb_Green->value()),
                       quint8(sb_Blue->value())};
        m_undoValue = m_selected->color();
        LockColorBars(false);
        return;
    }
    btn_Change->setText(ChangeCaption);
    sb_Red->setValue(m_undoColor.red);
    sb_Green->setValue(m_undoColor.green);
    sb_Blue->setValue(m_undoColor.blue);
    // The bars hold only three bytes; the cell gets back exactly what it had, a system colour
    // loaded from a file included.
    m_selected->setColor(m_undoValue);
    ShowColorValue(m_undoValue);
    ShowCellColor();
}

void TForm_SaveColor::btn_CopyColorMouseDown()
{
    StopCapture();
    PopupMenu1->popup(btn_CopyColor->mapToGlobal(QPoint(0, btn_CopyColor->height())));
}

void TForm_SaveColor::m_WebPageClick(QAction* item)
{
    const QString name = item->objectName();
    CopyFormat format = CopyFormat::Standard;
    if (name == QLatin1String("m_WebPage"))
        format = CopyFormat::WebPage;
    else if (name == QLatin1String("m_Delphi"))
        format = CopyFormat::Delphi;
    else if (name == QLatin1String("m_VB"))
        format = CopyFormat::VB;
    else if (name == QLatin1String("m_VC"))
        format = CopyFormat::VC;
    const QString text = FormatColor(m_selected->color(), format);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

QString TForm_SaveColor::PrepareColorFolder()
{
    const QString folder = CollectionRoot + QStringLiteral("Color");
    // Where the folder cannot be made, the file dialog opens wherever the system puts it.
    return QDir().mkpath(folder) ? folder : QString();
}

bool TForm_SaveColor::WriteCells(const QString& fileName)
{
    try {
        WritePalette(fileName, Colors());
        return true;
    } catch (const NimbrilError& error) {
        MessageBox::Error(this, error.text());
        return false;
    }
}

void TForm_SaveColor::SaveWithDialog(const QString& folder)
{
    const QString fileName = FileDialogs::GetSaveFileName(this, QString(), folder, PaletteFilter(),
                                                          QStringLiteral("col"));
    if (fileName.isEmpty())
        return;
    if (!MessageBox::MayReplaceFile(this, fileName))
        return;
    if (WriteCells(fileName))
        SetCurrentPaletteFile(fileName);
}

void TForm_SaveColor::btn_SaveClick()
{
    StopCapture();
    const QString folder = PrepareColorFolder();
    if (!CurrentPaletteFile().isEmpty()) {
        WriteCells(CurrentPaletteFile());
        return;
    }
    SaveWithDialog(folder);
}

void TForm_SaveColor::btn_SaveAsClick()
{
    StopCapture();
    SaveWithDialog(PrepareColorFolder());
}

void TForm_SaveColor::btn_LoadClick()
{
    StopCapture();
    const QString folder = PrepareColorFolder();
    const QString fileName = FileDialogs::GetOpenFileName(this, QString(), folder, PaletteFilter(),
                                                          QStringLiteral("col"));
    if (fileName.isEmpty())
        return;
    QString ioError;
    if (LoadPaletteFile(fileName, &ioError))
        return;
    if (ioError.isEmpty())
        MessageBox::Information(this, Translate(QStringLiteral("C_BadFileFormat")));
    else
        MessageBox::Error(this, ioError);
}

bool TForm_SaveColor::LoadPaletteFile(const QString& path, QString* ioError)
{
    PaletteCells loaded{};
    try {
        if (!ReadPalette(path, &loaded))
            return false;
    } catch (const NimbrilError& error) {
        if (ioError)
            *ioError = error.text();
        return false;
    }
    SetCurrentPaletteFile(path);
    for (TColorCell* cell : cells)
        cell->setColor(loaded[cell->Tag() - 1]);
    // An edit in progress ends with the load: its undo would otherwise overwrite the loaded colour,
    // and the displays must not go on showing a colour the cell no longer has.
    if (EditingColor())
        btn_Change->setText(ChangeCaption);
    if (!edt_ColorHex->text().isEmpty())
        ShowColorValue(m_selected->color());
    if (!edt_Red->text().isEmpty())
        ShowCellColor();
    else
        LockColorBars(true);
    return true;
}
