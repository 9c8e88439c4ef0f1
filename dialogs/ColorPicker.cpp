#include "ColorPicker.h"

#include "AppContext.h"
#include "ColorCell.h"
#include "Errors.h"
#include "FormFace.h"

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
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

namespace {

QString PaletteFilter(const LanguageCatalogue& language)
{
    return language.text(QStringLiteral("C_ColorFileFilter"),
                         QStringLiteral("Color Files(*.col);;All Files(*)"));
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

ColorPicker::ColorPicker(AppContext& context, QString& currentPaletteFile, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_context(context),
      m_currentPaletteFile(currentPaletteFile)
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
    // The band's colour is fixed, and so is the text's on it, whatever the theme.
    QPalette helpPal = lbl_Help->palette();
    helpPal.setColor(QPalette::WindowText, Qt::black);
    lbl_Help->setPalette(helpPal);
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
        auto* cell = new ColorCell(number, this);
        if (number == 1)
            cell->setGeometry(columns[column], 56, 25, 15);
        else
            cell->setGeometry(columns[column], rows[row], 25, 17);
        connect(cell, &ColorCell::mouseDown, this, &ColorPicker::CellMouseDown);
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
                ColorBarChange(bar);
        });

    CaptureTimer = new QTimer(this);
    CaptureTimer->setObjectName(QStringLiteral("CaptureTimer"));
    CaptureTimer->setInterval(50);
    connect(CaptureTimer, &QTimer::timeout, this, &ColorPicker::SampleScreenColor);

    pm_CopyColor = new QMenu(this);
    pm_CopyColor->setObjectName(QStringLiteral("pm_CopyColor"));
    m_WebPage = MenuItem(pm_CopyColor, "m_WebPage", "Web page format");
    m_Delphi = MenuItem(pm_CopyColor, "m_Delphi", "Delphi format");
    m_VB = MenuItem(pm_CopyColor, "m_VB", "Visual Basic format");
    m_VC = MenuItem(pm_CopyColor, "m_VC", "Visual C++ Format");
    m_VC->setVisible(false);
    pm_CopyColor->addSeparator();
    m_Standard = MenuItem(pm_CopyColor, "m_Standard", "Standard format");
    connect(pm_CopyColor, &QMenu::triggered, this, &ColorPicker::CopyColorItemClick);

    connect(btn_Change, &QPushButton::clicked, this, &ColorPicker::btn_ChangeClick);
    connect(btn_Save, &QPushButton::clicked, this, &ColorPicker::btn_SaveClick);
    connect(btn_SaveAs, &QPushButton::clicked, this, &ColorPicker::btn_SaveAsClick);
    connect(btn_Load, &QPushButton::clicked, this, &ColorPicker::btn_LoadClick);
    // A mouse press opens the copy menu at once (the filter swallows it); a keyboard click, which
    // no press precedes, opens it too.
    btn_CopyColor->installEventFilter(this);
    connect(btn_CopyColor, &QPushButton::clicked, this, &ColorPicker::btn_CopyColorMouseDown);

    FormCreate();
}

ColorPicker::~ColorPicker() = default;

void ColorPicker::FormCreate()
{
    m_selected = cells.first();
    LockColorBars(true);
}

void ColorPicker::FormShow()
{
    ApplyLanguage();
    // Where the screen cannot be read and the desktop picks no colour either, a capture would
    // only ever take black.
    if (!m_context.desktop().canSampleScreen() && !m_context.desktop().canPickColor())
        lbl_Help->setText(m_context.language().text(QStringLiteral("C_CannotReadScreen")));
}

void ColorPicker::showEvent(QShowEvent* event)
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

void ColorPicker::hideEvent(QHideEvent* event)
{
    // A hidden picker (the viewer keeps its picker after closing) must not go on reading the
    // screen.
    StopCapture();
    ++m_desktopPick;
    QDialog::hideEvent(event);
}

void ColorPicker::keyPressEvent(QKeyEvent* event)
{
    // Escape stops a capture; it must not also close the picker and lose its colours.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ColorPicker::mousePressEvent(QMouseEvent* event)
{
    if (!Capturing()) {
        QDialog::mousePressEvent(event);
        return;
    }
    // While capturing, every press anywhere comes here: it stops the capture and goes no further,
    // however short it is. A press on one of the cells still selects that cell.
    StopCapture();
    event->accept();
    const QPoint local = mapFromGlobal(event->globalPosition().toPoint());
    if (auto* cell = qobject_cast<ColorCell*>(childAt(local)))
        CellMouseDown(cell, event->button());
}

bool ColorPicker::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == btn_CopyColor && event->type() == QEvent::MouseButtonPress) {
        btn_CopyColorMouseDown();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ColorPicker::ApplyLanguage()
{
    setWindowTitle(m_context.language().text(QStringLiteral("Form_SaveColor.Caption")));
    lbl_Help->setText(m_context.language().text(QStringLiteral("Form_SaveColor.lbl_Help.Caption")));
    btn_Load->setText(m_context.language().text(QStringLiteral("Form_SaveColor.btn_Load.Caption")));
    btn_SaveAs->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.btn_SaveAs.Caption")));
    btn_Save->setText(m_context.language().text(QStringLiteral("Form_SaveColor.btn_Save.Caption")));
    btn_CopyColor->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.btn_CopyColor.Caption")));
    gb_ColorValue->setTitle(
        m_context.language().text(QStringLiteral("Form_SaveColor.gb_ColorValue.Caption")));
    lbl_ColorHex->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.lbl_ColorHex.Caption")));
    lbl_ColorDecimal->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.lbl_ColorDecimal.Caption")));
    m_WebPage->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.m_WebPage.Caption")));
    m_Delphi->setText(m_context.language().text(QStringLiteral("Form_SaveColor.m_Delphi.Caption")));
    m_VB->setText(m_context.language().text(QStringLiteral("Form_SaveColor.m_VB.Caption")));
    m_VC->setText(m_context.language().text(QStringLiteral("Form_SaveColor.m_VC.Caption")));
    m_Standard->setText(
        m_context.language().text(QStringLiteral("Form_SaveColor.m_Standard.Caption")));
    // The language font replaces the whole font, the help text's boldness included.
    const QFont font = m_context.language().font();
    for (QWidget* w : {static_cast<QWidget*>(lbl_ColorHex), static_cast<QWidget*>(lbl_ColorDecimal),
                       static_cast<QWidget*>(lbl_Help), static_cast<QWidget*>(gb_ColorValue)})
        w->setFont(font);
}

PaletteCells ColorPicker::Colors() const
{
    PaletteCells colors{};
    for (const ColorCell* cell : cells)
        colors[cell->Tag() - 1] = cell->color();
    return colors;
}

bool ColorPicker::Capturing() const
{
    return CaptureTimer->isActive();
}

void ColorPicker::SetEditing(bool editing)
{
    m_editing = editing;
    btn_Change->setText(
        editing ? m_context.language().text(QStringLiteral("Form_SaveColor.btn_Undo.Caption"),
                                            QStringLiteral("&Undo"))
                : m_context.language().text(QStringLiteral("Form_SaveColor.btn_Change.Caption"),
                                            QStringLiteral("&Change")));
}

void ColorPicker::StartCapture()
{
    CaptureTimer->start();
    if (isVisible())
        grabMouse(Qt::CrossCursor);
}

void ColorPicker::StopCapture()
{
    CaptureTimer->stop();
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void ColorPicker::LockColorBars(bool lock)
{
    for (QScrollBar* bar : {sb_Red, sb_Green, sb_Blue})
        bar->setEnabled(!lock);
}

void ColorPicker::ShowColorValue(ColorValue color)
{
    edt_ColorHex->setText(FormatColor(color, CopyFormat::WebPage));
    edt_ColorDecimal->setText(DecimalText(color));
}

void ColorPicker::SetBarsQuietly(ColorBytes bytes)
{
    m_quietBars = true;
    sb_Red->setValue(bytes.red);
    sb_Green->setValue(bytes.green);
    sb_Blue->setValue(bytes.blue);
    m_quietBars = false;
}

void ColorPicker::ShowCellColor()
{
    const ColorBytes bytes = SplitColor(m_selected->color());
    edt_Red->setText(QString::number(bytes.red));
    edt_Green->setText(QString::number(bytes.green));
    edt_Blue->setText(QString::number(bytes.blue));
    SetBarsQuietly(bytes);
    LockColorBars(true);
}

void ColorPicker::CellMouseDown(ColorCell* cell, Qt::MouseButton button)
{
    // Switching cells commits an edit in progress.
    if (m_editing)
        SetEditing(false);
    m_selected = cell;
    shp_Focus->move(cell->x() - 4, cell->y() - 4);
    ShowColorValue(cell->color());
    ShowCellColor();
    if (button == Qt::RightButton) {
        StopCapture();
        pm_CopyColor->popup(
            mapToGlobal(QPoint(shp_Focus->x(), shp_Focus->y() + shp_Focus->height())));
    } else if (m_context.desktop().canSampleScreen()) {
        StartCapture();
    } else if (m_context.desktop().canPickColor()) {
        PickThroughDesktop();
    }
}

void ColorPicker::PickThroughDesktop()
{
    // The desktop shows a picker of its own; its colour goes into the cell current when it
    // comes. A cancelled pick leaves the cell as it was.
    const quint64 pick = ++m_desktopPick;
    QPointer<ColorPicker> self(this);
    m_context.desktop().pickColor([self, pick](const DesktopPlatform::ColorPick& result) {
        if (!self || self->m_desktopPick != pick)
            return;
        using Outcome = DesktopPlatform::ColorPick::Outcome;
        if (result.outcome == Outcome::Picked)
            self->TakeScreenColor(result.color);
        else if (result.outcome == Outcome::Failed)
            self->lbl_Help->setText(
                self->m_context.language().text(QStringLiteral("C_CannotReadScreen")));
    });
}

QRect ColorPicker::NativeWindowRect() const
{
    // The desktop layer reports the pointer in device pixels.
    const QRect r = frameGeometry();
    const qreal ratio = devicePixelRatioF();
    if (ratio == 1.0)
        return r;
    return QRect(QPoint(qRound(r.x() * ratio), qRound(r.y() * ratio)),
                 QSize(qRound(r.width() * ratio), qRound(r.height() * ratio)));
}

void ColorPicker::SampleScreenColor()
{
    DesktopPlatform& desktop = m_context.desktop();
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
    if (pixel)
        TakeScreenColor(*pixel);
}

void ColorPicker::TakeScreenColor(QRgb rgb)
{
    const ColorValue color = ColorFromRgb(rgb);
    m_selected->setColor(color);
    ShowColorValue(color);
    ShowCellColor();
}

void ColorPicker::ColorBarChange(QScrollBar* bar)
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

void ColorPicker::btn_ChangeClick()
{
    StopCapture();
    if (!m_editing) {
        SetEditing(true);
        m_undoColor = {quint8(sb_Red->value()), quint8(sb_Green->value()),
                       quint8(sb_Blue->value())};
        m_undoValue = m_selected->color();
        LockColorBars(false);
        return;
    }
    SetEditing(false);
    sb_Red->setValue(m_undoColor.red);
    sb_Green->setValue(m_undoColor.green);
    sb_Blue->setValue(m_undoColor.blue);
    // The bars hold only three bytes; the cell gets back exactly what it had, a system colour
    // loaded from a file included.
    m_selected->setColor(m_undoValue);
    ShowColorValue(m_undoValue);
    ShowCellColor();
}

void ColorPicker::btn_CopyColorMouseDown()
{
    StopCapture();
    pm_CopyColor->popup(btn_CopyColor->mapToGlobal(QPoint(0, btn_CopyColor->height())));
}

void ColorPicker::CopyColorItemClick(QAction* item)
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

QString ColorPicker::PrepareColorFolder()
{
    const QString folder = m_context.paths().collectionRoot + QStringLiteral("Color");
    // Where the folder cannot be made, the file dialog opens wherever the system puts it.
    return QDir().mkpath(folder) ? folder : QString();
}

bool ColorPicker::WriteCells(const QString& fileName)
{
    try {
        WritePalette(fileName, Colors());
        return true;
    } catch (const NimbrilError& error) {
        m_context.prompts().error(this, m_context.language().translate(error.message()));
        return false;
    }
}

void ColorPicker::SaveWithDialog(const QString& folder)
{
    const QString fileName = m_context.prompts().saveFileName(
        this, QString(), folder, PaletteFilter(m_context.language()), QStringLiteral("col"));
    if (fileName.isEmpty())
        return;
    if (!m_context.prompts().mayReplaceFile(this, fileName))
        return;
    if (WriteCells(fileName))
        m_currentPaletteFile = fileName;
}

void ColorPicker::btn_SaveClick()
{
    StopCapture();
    const QString folder = PrepareColorFolder();
    if (!m_currentPaletteFile.isEmpty()) {
        WriteCells(m_currentPaletteFile);
        return;
    }
    SaveWithDialog(folder);
}

void ColorPicker::btn_SaveAsClick()
{
    StopCapture();
    SaveWithDialog(PrepareColorFolder());
}

void ColorPicker::btn_LoadClick()
{
    StopCapture();
    const QString folder = PrepareColorFolder();
    const QString fileName = m_context.prompts().openFileName(
        this, QString(), folder, PaletteFilter(m_context.language()), QStringLiteral("col"));
    if (fileName.isEmpty())
        return;
    QString ioError;
    if (LoadPaletteFile(fileName, &ioError))
        return;
    if (ioError.isEmpty())
        m_context.prompts().information(
            this, m_context.language().text(QStringLiteral("C_BadFileFormat")));
    else
        m_context.prompts().error(this, ioError);
}

bool ColorPicker::LoadPaletteFile(const QString& path, QString* ioError)
{
    PaletteCells loaded{};
    try {
        if (!ReadPalette(path, &loaded))
            return false;
    } catch (const NimbrilError& error) {
        if (ioError)
            *ioError = m_context.language().translate(error.message());
        return false;
    }
    m_currentPaletteFile = path;
    for (ColorCell* cell : cells)
        cell->setColor(loaded[cell->Tag() - 1]);
    // An edit in progress ends with the load: its undo would otherwise overwrite the loaded colour,
    // and the displays must not go on showing a colour the cell no longer has.
    if (m_editing)
        SetEditing(false);
    if (!edt_ColorHex->text().isEmpty())
        ShowColorValue(m_selected->color());
    if (!edt_Red->text().isEmpty())
        ShowCellColor();
    else
        LockColorBars(true);
    return true;
}
