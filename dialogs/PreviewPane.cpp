#include "PreviewPane.h"

#include "CollectionFiles.h"
#include "LanguageCatalogue.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QLibrary>
#include <QPlainTextEdit>
#include <QTextBrowser>

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

PreviewPane::PreviewPane(const LanguageCatalogue& language, const QString& programDir,
                         QWidget* parent)
    : QStackedWidget(parent), m_language(language)
{
    if (!programDir.isEmpty())
        m_webModule = QDir(programDir).filePath(WebModuleName());
    m_empty = new QWidget(this);
    m_note = new QLabel(this);
    m_note->setAlignment(Qt::AlignCenter);
    m_note->setWordWrap(true);
    m_note->setTextFormat(Qt::PlainText);
    addWidget(m_empty);
    addWidget(m_note);
    m_image = new ImagePreview(this);
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    m_html = new QTextBrowser(this);
    // Saved pages are looked at, not browsed: links go nowhere from here.
    m_html->setOpenLinks(false);
    addWidget(m_image);
    addWidget(m_text);
    addWidget(m_html);
    setCurrentWidget(m_empty);
}

QString PreviewPane::WebModuleName()
{
    return QStringLiteral("nimbril-webpreview.so");
}

bool PreviewPane::HasWebEngine() const
{
    return !m_webFailed && !m_webModule.isEmpty() && QFileInfo(m_webModule).isFile();
}

QWidget* PreviewPane::WebView()
{
    if (m_web || !HasWebEngine())
        return m_web;
    using Make = QWidget* (*)(QWidget*, void (*)(void*), void*);
    QLibrary module(m_webModule);
    const auto make = reinterpret_cast<Make>(module.resolve("NimbrilMakeWebPreview"));
    if (!make) {
        // The engine's libraries are missing or do not load: the plain preview stays.
        qWarning("nimbril: no web preview: %s", qPrintable(module.errorString()));
        m_webFailed = true;
        return nullptr;
    }
    m_web = make(
        this, [](void* pane) { static_cast<PreviewPane*>(pane)->WebEngineFailed(); }, this);
    addWidget(m_web);
    connect(m_web, SIGNAL(loadFinished(bool)), this, SIGNAL(webPageLoaded(bool)));
    return m_web;
}

void PreviewPane::WebEngineFailed()
{
    // The engine's page process died; web pages are shown plainly from now on.
    m_webFailed = true;
    if (m_shown == Shown::Web && !m_path.isEmpty())
        Navigate(m_path, fcWebPage);
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
    switch (cls) {
    case fcFlash:
        // No Flash player exists any more, in a web view or elsewhere.
        ShowNote(noPreview);
        return;
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
        if (QWidget* web = WebView()) {
            web->setProperty("url", url);
            setCurrentWidget(web);
            m_shown = Shown::Web;
            return;
        }
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
}
