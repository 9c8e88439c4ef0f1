#pragma once

#include "Desktop.h"

#include <memory>

// The desktop of a session the program reaches only through the desktop portal on the session
// bus (a Wayland session): nothing of the screen can be read directly, but the portal's
// Screenshot interface lets the user pick a colour, which the desktop's own picker shows.
class PortalDesktop : public NullDesktop
{
public:
    // On the session bus; null when the session has none.
    static std::unique_ptr<PortalDesktop> open();
    // On the bus at `busAddress` (a bus of its own for tests); the session bus when empty. The
    // bus is connected at the first question.
    explicit PortalDesktop(const QString& busAddress = {});
    ~PortalDesktop() override;

    QString name() const override { return QStringLiteral("portal"); }
    // Whether the portal service runs or the bus can start it.
    bool canPickColor() const override;
    void pickColor(ColorPicked done) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
