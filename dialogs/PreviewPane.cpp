#include "PreviewPane.h"

#include "CollectionFiles.h"
#include "LanguageCatalogue.h"

#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextBrowser>

#ifdef NIMBRIL_HAVE_WEBENGINE
#include <QWebEngineView>
#endif

// A picture scaled down to fit the pane, read at a bounded size so that a huge picture cannot
// exhaust memory.
class ImagePreview : public QLabel
{
public:
    explicit ImagePreview(QWidget* parent) : QLabel(parent)
    {
        setAlignment(Qt::AlignCenter);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        setMinimumSize(1, 1);
    }

    bool Load(const QString& path)
    {
        constexpr int MaxSide = 4096;
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > MaxSide || size.height() > MaxSide))
            reader.setScaledSize(size.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio));
        QImage image = reader.read();
        if (image.isNull())
            return false;
        m_image = std::move(image);
        Rescale();
        return true;
    }

    bool hasPicture() const { return !m_image.isNull(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        Rescale();
    }

private:
    void Rescale()
    {
        if (m_image.isNull())
            return;
        const qreal ratio = devicePixelRatioF();
        const QSize room = size() * ratio;
        QImage shown = m_image;
        if (shown.width() > room.width() || shown.height() > room.height())
            shown = m_image.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmap pixmap = QPixmap::fromImage(shown);
        pixmap.setDevicePixelRatio(ratio);
        setPixmap(pixmap);
    }

    QImage m_image;
};

PreviewPane::PreviewPane(const LanguageCatalogue& language, QWidget* parent)
    : QStackedWidget(parent), m_language(language)
{
    m_empty = new QWidget(this);
    m_note = new QLabel(this);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_note->setTextFormat(Qt::PlainText);
    addWidget(m_empty);
    addWidget(m_note);
#ifndef NIMBRIL_HAVE_WEBENGINE
    m_image = new ImagePreview(this);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_html = new QTextBrowser(this);
    // Saved pages are looked at, not browsed: links go nowhere from here.
    m_html->setOpenLinks(false);
    addWidget(m_image);
    addWidget(m_text);
    addWidget(m_html);
#endif
    setCurrentWidget(m_empty);
}

bool PreviewPane::HasWebEngine()
{
#ifdef NIMBRIL_HAVE_WEBENGINE
    return true;
#else
    return false;
#endif
}

QString PreviewPane::noteText() const
{
    return m_shown == Shown::Note ? m_note->text() : QString();
}

void PreviewPane::ShowNote(const QString& text)
{
    m_note->setText(text);
    setCurrentWidget(m_note);
    m_shown = Shown::Note;
}

void PreviewPane::Navigate(const QString& path, FileClass cls)
{
    m_path = path;
    const QString noPreview = m_language.text(QStringLiteral("C_NoPreview")) +
                              QStringLiteral("\n\n") + QFileInfo(path).fileName();
    if (cls == fcFlash) {
        // No Flash player exists any more, in a web view or elsewhere.
        ShowNote(noPreview);
        return;
    }
#ifdef NIMBRIL_HAVE_WEBENGINE
    if (!m_web) {
        m_web = new QWebEngineView(this);
        addWidget(m_web);
    }
    m_web->setUrl(QUrl::fromLocalFile(path));
    setCurrentWidget(m_web);
    m_shown = Shown::Web;
#else
    switch (cls) {
    case fcPhoto:
        if (!m_image->Load(path)) {
            ShowNote(noPreview);
            return;
        }
        setCurrentWidget(m_image);
        m_shown = Shown::Image;
        return;
    case fcText: {
        bool truncated = false;
        bool ok = false;
        const QString text = ReadPreviewText(path, MaxTextBytes, &truncated, &ok);
        if (!ok) {
            ShowNote(noPreview);
            return;
        }
        m_text->setPlainText(truncated ? text + QStringLiteral("\n…") : text);
        setCurrentWidget(m_text);
        m_shown = Shown::Text;
        return;
    }
    case fcWebPage: {
        const QUrl url = QUrl::fromLocalFile(path);
        if (m_html->source() == url)
            m_html->reload();
        else
            m_html->setSource(url, QTextDocument::HtmlResource);
        setCurrentWidget(m_html);
        m_shown = Shown::Html;
        return;
    }
    default:
        return;
    }
#endif
}
