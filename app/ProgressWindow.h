#pragma once

#include "ProgressDisplays.h"

#include <QWidget>
#include <memory>

class LanguageCatalogue;
class QLabel;
class QProgressBar;

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
// takes its texts from the language catalogue.
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

    // The engine's views of the five displays.
    TextDisplay* pageDisplay() { return m_page.get(); }
    TextDisplay* urlDisplay() { return m_url.get(); }
    TextDisplay* fileDisplay() { return m_file.get(); }
    ProgressBar* pageBar() { return m_pageBar.get(); }
    ProgressBar* totalBar() { return m_totalBar.get(); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    const LanguageCatalogue& m_language;
    std::unique_ptr<LabelDisplay> m_page, m_url, m_file;
    std::unique_ptr<BarDisplay> m_pageBar, m_totalBar;
};
