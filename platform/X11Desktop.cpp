#include "X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <algorithm>
#include <unistd.h>
#include <vector>

// Xlib's macros collide with Qt and C++ names; nothing below needs them.
#undef None
#undef Bool
#undef Status

namespace {

int IgnoreXErrors(Display*, XErrorEvent*)
{
    return 0; // a window that vanished between listing and reading is not an error to us
}

} // namespace

struct X11Desktop::Impl
{
    Display* display = nullptr;
    ::Window root = 0;

    Atom atom(const char* name) { return XInternAtom(display, name, False); }

    std::vector<::Window> windowList(const char* property)
    {
        std::vector<::Window> out;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, root, atom(property), 0, 1 << 16, False, XA_WINDOW, &type,
                               &format, &count, &after, &data) == Success &&
            data && format == 32) {
            const auto* ids = reinterpret_cast<const unsigned long*>(data);
            out.assign(ids, ids + count);
        }
        if (data)
            XFree(data);
        return out;
    }

    // A window's property of 32-bit items (cardinals, atoms), empty when it has none.
    std::vector<unsigned long> cardinals(::Window w, const char* property, Atom itemType)
    {
        std::vector<unsigned long> out;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, w, atom(property), 0, 64, False, itemType, &type, &format,
                               &count, &after, &data) == Success &&
            data && format == 32) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            out.assign(items, items + count);
        }
        if (data)
            XFree(data);
        return out;
    }

    QString windowClass(::Window w)
    {
        XClassHint hint{nullptr, nullptr};
        if (!XGetClassHint(display, w, &hint))
            return QString();
        const QString cls = QString::fromLocal8Bit(hint.res_class ? hint.res_class : "");
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
        return cls;
    }

    QString caption(::Window w)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        QString text;
        if (XGetWindowProperty(display, w, atom("_NET_WM_NAME"), 0, 4096, False,
                               atom("UTF8_STRING"), &type, &format, &count, &after,
                               &data) == Success &&
            data && format == 8) {
            text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(count));
        }
        if (data)
            XFree(data);
        if (text.isEmpty()) {
            char* name = nullptr;
            if (XFetchName(display, w, &name) && name) {
                text = QString::fromLocal8Bit(name);
                XFree(name);
            }
        }
        return text;
    }

    void sendRootMessage(::Window w, const char* message, long d0, long d1 = 0, long d2 = 0)
    {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = atom(message);
        e.xclient.format = 32;
        e.xclient.data.l[0] = d0;
        e.xclient.data.l[1] = d1;
        e.xclient.data.l[2] = d2;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    }
};

std::unique_ptr<X11Desktop> X11Desktop::open()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return nullptr;
    XSetErrorHandler(IgnoreXErrors);
    auto impl = std::make_unique<Impl>();
    impl->display = display;
    impl->root = DefaultRootWindow(display);
    return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

bool X11Desktop::sessionIsX11()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland";
}

X11Desktop::X11Desktop(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}

X11Desktop::~X11Desktop()
{
    if (d && d->display)
        XCloseDisplay(d->display);
}

std::optional<QPoint> X11Desktop::pointerPosition()
{
    ::Window rootReturn = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(d->display, d->root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask))
        return std::nullopt;
    return QPoint(rx, ry);
}

bool X11Desktop::leftButtonDown()
{
    ::Window rootReturn = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(d->display, d->root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask))
        return false;
    return (mask & Button1Mask) != 0;
}

bool X11Desktop::escapeDown()
{
    char keys[32] = {};
    XQueryKeymap(d->display, keys);
    const KeyCode code = XKeysymToKeycode(d->display, XK_Escape);
    return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
}

std::optional<QRgb> X11Desktop::pixelAt(QPoint p)
{
    XWindowAttributes attrs{};
    if (!XGetWindowAttributes(d->display, d->root, &attrs))
        return std::nullopt;
    if (p.x() < 0 || p.y() < 0 || p.x() >= attrs.width || p.y() >= attrs.height)
        return std::nullopt;
    XImage* image = XGetImage(d->display, d->root, p.x(), p.y(), 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return std::nullopt;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    auto channel = [pixel](unsigned long mask) -> int {
        if (!mask)
            return 0;
        int shift = 0;
        while (!((mask >> shift) & 1))
            ++shift;
        const unsigned long max = mask >> shift;
        return int(((pixel & mask) >> shift) * 255 / max);
    };
    const QRgb rgb =
        qRgb(channel(image->red_mask), channel(image->green_mask), channel(image->blue_mask));
    XDestroyImage(image);
    return rgb;
}

void X11Desktop::minimizeOtherWindows()
{
    // "Show desktop" would also take our own floating window away, and nothing brings it back
    // by itself; each other program's window is minimised instead.
    const Atom dock = d->atom("_NET_WM_WINDOW_TYPE_DOCK");
    const Atom desktop = d->atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    const unsigned long ownPid = static_cast<unsigned long>(getpid());
    for (::Window w : d->windowList("_NET_CLIENT_LIST")) {
        const std::vector<unsigned long> pid = d->cardinals(w, "_NET_WM_PID", XA_CARDINAL);
        if (!pid.empty() && pid.front() == ownPid)
            continue;
        const std::vector<unsigned long> types = d->cardinals(w, "_NET_WM_WINDOW_TYPE", XA_ATOM);
        if (std::find(types.begin(), types.end(), dock) != types.end() ||
            std::find(types.begin(), types.end(), desktop) != types.end())
            continue; // panels and the desktop itself are no windows one minimises
        XIconifyWindow(d->display, w, DefaultScreen(d->display));
    }
    XFlush(d->display);
}

std::optional<QString> X11Desktop::topmostWindowCaption(const QStringList& windowClasses)
{
    const std::vector<::Window> stacking = d->windowList("_NET_CLIENT_LIST_STACKING");
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it)
        if (windowClasses.contains(d->windowClass(*it)))
            return d->caption(*it);
    return std::nullopt;
}

int X11Desktop::closeWindows(const QStringList& windowClasses)
{
    int asked = 0;
    for (::Window w : d->windowList("_NET_CLIENT_LIST")) {
        if (!windowClasses.contains(d->windowClass(w)))
            continue;
        // source indication 2: a pager or similar acting for the user
        d->sendRootMessage(w, "_NET_CLOSE_WINDOW", CurrentTime, 2);
        ++asked;
    }
    XFlush(d->display);
    return asked;
}

const QStringList& BrowserWindowClasses()
{
    static const QStringList classes = {
        QStringLiteral("Chromium"),         QStringLiteral("chromium"),
        QStringLiteral("Chromium-browser"), QStringLiteral("chromium-browser"),
        QStringLiteral("Google-chrome"),    QStringLiteral("google-chrome"),
    };
    return classes;
}

std::unique_ptr<DesktopPlatform> ChooseWindowlessDesktop()
{
    const QByteArray forced = qgetenv("NIMBRIL_PLATFORM");
    const bool wantX11 = forced == "x11" || (forced.isEmpty() && X11Desktop::sessionIsX11());
    if (wantX11)
        if (auto x11 = X11Desktop::open())
            return x11;
    return std::make_unique<NullDesktop>();
}
