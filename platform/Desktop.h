#pragma once

#include <QPoint>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// The desktop facilities that Qt does not offer: the global pointer and key state, one screen
// pixel or a colour the desktop picks, minimising the other programs' windows, and the browser's
// top-level windows. An X11 realisation, one through the desktop portal (Wayland) and a null one
// (offscreen tests) are chosen at run time; NIMBRIL_PLATFORM=x11|portal|null forces one. The
// program makes one at start-up and hands it to the windows that need it.
class DesktopPlatform
{
public:
    virtual ~DesktopPlatform() = default;

    virtual QString name() const = 0;
    // Whether pointer, keys and screen pixels can be read on this session.
    virtual bool canSampleScreen() const = 0;
    virtual std::optional<QPoint> pointerPosition() = 0;
    virtual bool leftButtonDown() = 0;
    virtual bool escapeDown() = 0;
    // The colour of one screen pixel, or nothing when the screen cannot be read.
    virtual std::optional<QRgb> pixelAt(QPoint screenPoint) = 0;

    // What came of asking the desktop for a colour.
    struct ColorPick
    {
        enum class Outcome
        {
            Picked,
            Cancelled,
            Failed
        };
        Outcome outcome = Outcome::Failed;
        QRgb color = 0;
    };
    using ColorPicked = std::function<void(const ColorPick&)>;
    // Whether the desktop lets the user pick a colour on the screen for the program, where the
    // program cannot read the screen itself.
    virtual bool canPickColor() const { return false; }
    // Starts such a pick and returns; `done` runs once: later, from the event loop, or at once
    // when the pick cannot even start.
    virtual void pickColor(ColorPicked done) { done({}); }
    // Minimises the windows of every other program (what "show desktop" clears away), leaving this
    // program's own windows where they are; nothing where unsupported.
    virtual void minimizeOtherWindows() = 0;
    // The caption of the topmost top-level window whose class is one of the given ones, in the
    // window manager's stacking order; nothing when there is no such window or no window system.
    virtual std::optional<QString> topmostWindowCaption(const QStringList& windowClasses) = 0;
    // Asks every top-level window of the given classes to close; returns how many were asked, or
    // -1 when windows cannot be reached at all.
    virtual int closeWindows(const QStringList& windowClasses) = 0;
};

// The desktop of this session: X11 where the program runs on an X display, else the desktop
// portal where there is a session bus, else the null one.
std::unique_ptr<DesktopPlatform> ChooseDesktop();

// The same for a program without windows of its own (the command-line capture), which asks the
// desktop only for the browser's windows: X11 where a display can be opened, else the null one.
// It loads neither Qt's GUI nor D-Bus, whose libraries cost a short command most of its start-up.
std::unique_ptr<DesktopPlatform> ChooseWindowlessDesktop();

// A desktop where nothing can be read or done.
class NullDesktop : public DesktopPlatform
{
public:
    QString name() const override { return QStringLiteral("null"); }
    bool canSampleScreen() const override { return false; }
    std::optional<QPoint> pointerPosition() override { return std::nullopt; }
    bool leftButtonDown() override { return false; }
    bool escapeDown() override { return false; }
    std::optional<QRgb> pixelAt(QPoint) override { return std::nullopt; }
    void minimizeOtherWindows() override {}
    std::optional<QString> topmostWindowCaption(const QStringList&) override
    {
        return std::nullopt;
    }
    int closeWindows(const QStringList&) override { return -1; }
};

// The window classes a Chromium-family browser's windows carry on X11.
const QStringList& BrowserWindowClasses();
