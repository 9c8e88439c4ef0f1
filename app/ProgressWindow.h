#pragma once

#include "ProgressDisplays.h"

#include <QWidget>
#include <memory>

class LanguageCatalogue;
class QLabel;
class QProgressBar;
class QPushButton;

// A QLabel as the engine's text display.
class LabelDisplay : public TextDisplay
{
public:
    explicit LabelDisplay(QLabel* label) : m_label(label) {}
    void setText(const QString& text) override;
    QString text() const override;
    void repaint() override;

private:
    QLabel* m_label;
};

// A QProgressBar as the engine's bar; out-of-range positions are clamped, since the widget would
// ignore them.
class BarDisplay : public ProgressBar
{
public:
    explicit BarDisplay(QProgressBar* bar) : m_bar(bar) {}
    int min() const override;
    int max() const override;
    int position() const override;
    void setMin(int value) override;
    void setMax(int value) override;
    void setPosition(int value) override;

private:
    QProgressBar* m_bar;
};

// The small topmost window that shows a capture run: the page, its URL, the file being copied
// and two bars. The engine writes into its displays; the window only places itself on top and
// takes its texts from the language catalogue. Cancel (or closing it) asks the capture to stop
// before its next page.
class ProgressWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ProgressWindow(const LanguageCatalogue& language, QWidget* parent = nullptr);
    ~ProgressWindow() override;

    void ApplyLanguage();

    QLabel* lbl_Page1;
    QLabel* lbl_URL1;
    QLabel* lbl_File1;
    QLabel* lbl_CurrentPage;
    QLabel* lbl_Total;
    QLabel* lbl_Page;
    QLabel* lbl_URL;
    QLabel* lbl_File;
    QProgressBar* pb_CurrentPage;
    QProgressBar* pb_Total;
    QPushButton* btn_Cancel;

    // Whether the user asked the capture to stop.
    bool stopRequested() const { return m_stopRequested; }
    void requestStop();
    // Closes the window when the capture has ended.
    void finish();

    // The engine's views of the five displays.
    TextDisplay* pageDisplay() { return m_page.get(); }
    TextDisplay* urlDisplay() { return m_url.get(); }
    TextDisplay* fileDisplay() { return m_file.get(); }
    ProgressBar* pageBar() { return m_pageBar.get(); }
    ProgressBar* totalBar() { return m_totalBar.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    const LanguageCatalogue& m_language;
    bool m_stopRequested = false;
    // Closing by the program itself, at the end of the capture, is no request to stop.
    bool m_closing = false;

    std::unique_ptr<LabelDisplay> m_page, m_url, m_file;
    std::unique_ptr<BarDisplay> m_pageBar, m_totalBar;
};
