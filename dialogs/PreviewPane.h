#pragma once

#include "CaptureKind.h"

#include <QStackedWidget>
#include <QString>

class ImagePreview;
class LanguageCatalogue;
class QLabel;
class QPlainTextEdit;
class QTextBrowser;

// The viewer's preview pane: an image view and a text view, and for web pages an embedded web
// view where the web engine's module lies in the program folder (else a plain rendering of the
// page); Flash movies, which nothing here can play, get a plain note. It stays empty until the
// first preview and keeps its last document otherwise.
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

    // The web engine's module is looked for in programDir.
    explicit PreviewPane(const LanguageCatalogue& language, const QString& programDir = {},
                         QWidget* parent = nullptr);

    // Shows the local file Path of the given class (photo, Flash movie, text or web page).
    void Navigate(const QString& path, FileClass cls);

    QString shownPath() const { return m_path; }
    Shown shown() const { return m_shown; }
    // The note's text while a note is shown.
    QString noteText() const;
    // Web pages are shown by the web engine: its module is there and has not failed.
    bool HasWebEngine() const;
    // The file name of the web engine's module.
    static QString WebModuleName();

Q_SIGNALS:
    // The web view has loaded the page it was given (ok false: it could not).
    void webPageLoaded(bool ok);

public:
    // Text files larger than this are shown cut, so that a huge file cannot stall the window.
    static constexpr qint64 MaxTextBytes = 4 << 20;

private:
    void ShowNote(const QString& text);
    // The web view, made and its module loaded at the first web page; null when that fails.
    QWidget* WebView();
    void WebEngineFailed();

    const LanguageCatalogue& m_language;
    QString m_path;
    Shown m_shown = Shown::Nothing;
    QWidget* m_empty;
    QLabel* m_note;
    ImagePreview* m_image;
    QPlainTextEdit* m_text;
    QTextBrowser* m_html;
    QString m_webModule;
    QWidget* m_web = nullptr; // made at the first web page: starting the engine is costly
    bool m_webFailed = false;
};
