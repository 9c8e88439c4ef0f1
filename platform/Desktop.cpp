#include "Desktop.h"

#include "PortalDesktop.h"
#include "X11Desktop.h"

#include <QGuiApplication>

std::unique_ptr<DesktopPlatform> ChooseDesktop()
{
    const QByteArray forced = qgetenv("NIMBRIL_PLATFORM");
    if (forced == "null")
        return std::make_unique<NullDesktop>();
    bool wantX11 = forced == "x11";
    if (!wantX11) {
        const QString qpa = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                                ? QGuiApplication::platformName()
                                : QString();
        if (!qpa.isEmpty())
            wantX11 = qpa == QLatin1String("xcb");
        else
            wantX11 = X11Desktop::sessionIsX11();
    }
    if (wantX11)
        if (auto x11 = X11Desktop::open())
            return x11;
    if (forced.isEmpty() || forced == "portal")
        if (auto portal = PortalDesktop::open())
            return portal;
    return std::make_unique<NullDesktop>();
}
