#pragma once

#include "CaptureKind.h"

#include <QStackedWidget>
#include <QString>

class ImagePreview;
class LanguageCatalogue;
class QLabel;
class QPlainTextEdit;
class QTextBrowser;
#ifdef NIMBRIL_HAVE_WEBENGINE
class QWebEngineView;
#endif

// The viewer's preview pane: an embedded web view where Qt WebEngine is built in, else an image
// view and a text view; Flash movies, which nothing here can play, get a plain note. It stays
// empty until the first preview and keeps its last document otherwise.
class PreviewPane : public QStackedWidget
{
    Q_OBJECT
public:
    enum class Shown
    {
        Nothing,
        Web,
        Image,
        Text,
        Html,
        Note
    };

    explicit PreviewPane(const LanguageCatalogue& language, QWidget* parent = nullptr);

    // Shows the local file Path of the given class (photo, Flash movie, text or web page).
    void Navigate(const QString& path, FileClass cls);

    QString shownPath() const { return m_path; }
    Shown shown() const { return m_shown; }
    // The note's text while a note is shown.
    QString noteText() const;
    static bool HasWebEngine();

    // Text files larger than this are shown cut, so that a huge file cannot stall the window.
    static constexpr qint64 MaxTextBytes = 4 << 20;

private:
    void ShowNote(const QString& text);

    const LanguageCatalogue& m_language;
    QString m_path;
    Shown m_shown = Shown::Nothing;
    QWidget* m_empty;
    QLabel* m_note;
#ifdef NIMBRIL_HAVE_WEBENGINE
    QWebEngineView* m_web = nullptr; // made at the first preview: starting the engine is costly
#else
    ImagePreview* m_image;
    QPlainTextEdit* m_text;
    QTextBrowser* m_html;
#endif
};
