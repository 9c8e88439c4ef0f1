#pragma once

#include <QString>

// The two kinds of display the capture engine writes into, so that it holds no widget: the
// progress window adapts its labels and bars to these.

class TextDisplay
{
public:
    virtual ~TextDisplay() = default;
    virtual void setText(const QString& text) = 0;
    virtual QString text() const = 0;
    // Paints the display at once, not at the next event loop turn.
    virtual void repaint() = 0;
};

// A bar with an integer range; a position beyond Max stays at Max (and below Min at Min).
class ProgressBar
{
public:
    virtual ~ProgressBar() = default;
    virtual int min() const = 0;
    virtual int max() const = 0;
    virtual int position() const = 0;
    virtual void setMin(int value) = 0;
    virtual void setMax(int value) = 0;
    virtual void setPosition(int value) = 0;
};

// A text display that only keeps its text (command-line progress, tests).
class PlainTextDisplay : public TextDisplay
{
public:
    void setText(const QString& text) override { m_text = text; }
    QString text() const override { return m_text; }
    void repaint() override { ++m_repaints; }
    int repaints() const { return m_repaints; }

private:
    QString m_text;
    int m_repaints = 0;
};

// A bar that only keeps its numbers, with the clamping rule of every bar.
class PlainProgressBar : public ProgressBar
{
public:
    int min() const override { return m_min; }
    int max() const override { return m_max; }
    int position() const override { return m_position; }
    void setMin(int value) override
    {
        m_min = value;
        setPosition(m_position);
    }
    void setMax(int value) override
    {
        m_max = value;
        setPosition(m_position);
    }
    void setPosition(int value) override
    {
        m_position = value > m_max ? m_max : (value < m_min ? m_min : value);
    }

private:
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
};
