#include "ProgressWindow.h"

#include "FormFace.h"
#include "LanguageCatalogue.h"

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

void LabelDisplay::setText(const QString& text)
{
    m_label->setText(text);
}

QString LabelDisplay::text() const
{
    return m_label->text();
}

void LabelDisplay::repaint()
{
    m_label->repaint();
}

int BarDisplay::min() const
{
    return m_bar->minimum();
}

int BarDisplay::max() const
{
    return m_bar->maximum();
}

int BarDisplay::position() const
{
    return m_bar->value();
}

void BarDisplay::setMin(int value)
{
    m_bar->setMinimum(value);
}

void BarDisplay::setMax(int value)
{
    m_bar->setMaximum(value);
}

void BarDisplay::setPosition(int value)
{
    m_bar->setValue(qBound(m_bar->minimum(), value, m_bar->maximum()));
}

namespace {

QLabel* CaptionLabel(QWidget* parent, int top, const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(70, top, 110, 17);
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setBold(true);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, CaptionBlue(pal));
    label->setPalette(pal);
    return label;
}

QLabel* DisplayLabel(QWidget* parent, int top)
{
    auto* label = new QLabel(parent);
    // A fixed size: a long text is cut at the right edge, the window never grows.
    label->setGeometry(184, top, 380, 17);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    return label;
}

QProgressBar* Bar(QWidget* parent, int top)
{
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(184, top, 380, 17);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

void Picture(QWidget* parent, int top, const char* resource)
{
    auto* image = new QLabel(parent);
    image->setGeometry(24, top, 33, 32);
    image->setPixmap(QIcon(QString::fromLatin1(resource)).pixmap(32, 32));
}

} // namespace

ProgressWindow::ProgressWindow(const LanguageCatalogue& language, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      m_language(language)
{
    setObjectName(QStringLiteral("Form_Progress"));
    setWindowTitle(QStringLiteral("Download progress"));
    setFixedSize(595, 264);
    move(240, 194);
    PaintFormFace(this);

    auto* bevel = new QFrame(this);
    bevel->setGeometry(10, 12, 575, 209);
    bevel->setFrameShape(QFrame::StyledPanel);
    bevel->setFrameShadow(QFrame::Sunken);

    Picture(this, 19, ":/nimbril/progress_page.svg");
    Picture(this, 59, ":/nimbril/progress_url.svg");
    Picture(this, 99, ":/nimbril/progress_file.svg");
    Picture(this, 139, ":/nimbril/progress_current.svg");
    Picture(this, 179, ":/nimbril/progress_total.svg");

    lbl_Page1 = CaptionLabel(this, 31, "Current Page");
    lbl_URL1 = CaptionLabel(this, 69, "Current URL");
    lbl_File1 = CaptionLabel(this, 107, "Current File");
    lbl_CurrentPage = CaptionLabel(this, 145, "Current Progress");
    lbl_Total = CaptionLabel(this, 183, "Total Progress");
    lbl_Page = DisplayLabel(this, 31);
    lbl_URL = DisplayLabel(this, 69);
    lbl_File = DisplayLabel(this, 107);
    pb_CurrentPage = Bar(this, 145);
    pb_Total = Bar(this, 183);

    btn_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    btn_Cancel->setObjectName(QStringLiteral("btn_Cancel"));
    btn_Cancel->setGeometry(495, 229, 90, 27);
    connect(btn_Cancel, &QPushButton::clicked, this, &ProgressWindow::requestStop);

    m_page = std::make_unique<LabelDisplay>(lbl_Page);
    m_url = std::make_unique<LabelDisplay>(lbl_URL);
    m_file = std::make_unique<LabelDisplay>(lbl_File);
    m_pageBar = std::make_unique<BarDisplay>(pb_CurrentPage);
    m_totalBar = std::make_unique<BarDisplay>(pb_Total);
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::requestStop()
{
    m_stopRequested = true;
    btn_Cancel->setEnabled(false);
}

void ProgressWindow::finish()
{
    m_closing = true;
    close();
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    // The window goes with the capture; closing it before then is a Cancel.
    if (!m_closing) {
        requestStop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void ProgressWindow::showEvent(QShowEvent* event)
{
    ApplyLanguage();
    QWidget::showEvent(event);
}

void ProgressWindow::ApplyLanguage()
{
    setWindowTitle(m_language.text(QStringLiteral("Form_Progress.Caption")));
    lbl_Page1->setText(m_language.text(QStringLiteral("Form_Progress.lbl_Page1.Caption")));
    lbl_URL1->setText(m_language.text(QStringLiteral("Form_Progress.lbl_URL1.Caption")));
    lbl_File1->setText(m_language.text(QStringLiteral("Form_Progress.lbl_File1.Caption")));
    lbl_CurrentPage->setText(
        m_language.text(QStringLiteral("Form_Progress.lbl_CurrentPage.Caption")));
    lbl_Total->setText(m_language.text(QStringLiteral("Form_Progress.lbl_Total.Caption")));
    const QString cancel = m_language.text(QStringLiteral("btn_Cancel.Caption"));
    btn_Cancel->setText(cancel.isEmpty() ? QStringLiteral("Cancel") : cancel);
    // The language font replaces the whole font, colour and boldness included.
    const QFont font = m_language.font();
    for (QLabel* label : {lbl_Page1, lbl_URL1, lbl_File1, lbl_CurrentPage, lbl_Total}) {
        label->setFont(font);
        label->setPalette(palette());
    }
}
