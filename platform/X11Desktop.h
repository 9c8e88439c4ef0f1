#pragma once

#include "Desktop.h"

#include <memory>

// The desktop of an X11 session (or XWayland), through Xlib on its own display connection.
class X11Desktop : public DesktopPlatform
{
public:
    // Null when no X display can be opened.
    static std::unique_ptr<X11Desktop> open();
    // Whether the environment names an X display and is no Wayland session (where DISPLAY may
    // still name XWayland, whose windows are not the desktop's).
    static bool sessionIsX11();
    ~X11Desktop() override;

    QString name() const override { return QStringLiteral("x11"); }
    bool canSampleScreen() const override { return true; }
    std::optional<QPoint> pointerPosition() override;
    bool leftButtonDown() override;
    bool escapeDown() override;
    std::optional<QRgb> pixelAt(QPoint screenPoint) override;
    void minimizeOtherWindows() override;
    std::optional<QString> topmostWindowCaption(const QStringList& windowClasses) override;
    int closeWindows(const QStringList& windowClasses) override;

private:
    struct Impl;
    explicit X11Desktop(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};
