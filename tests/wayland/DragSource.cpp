// Another program on a Wayland desktop, for the tests that drive one: a window that starts a drag
// of a link the moment it is pressed, and the mouse of a headless compositor. A headless
// compositor has no input device, so this program makes a virtual pointer on a connection of its
// own and moves and presses it as its standard input says:
//   move X Y   the cursor to X,Y of the desktop
//   press / release [right]   the left (or right) button
//   later MS   the events that follow happen MS milliseconds later by their time stamps
// Each command is answered with "ok" once the compositor has taken it. A drag is announced as
// "drag-started", its outcome as "drag-ended ACTION" (the accepted action, 0 for none).
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <linux/input-event-codes.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

namespace {

class VirtualPointer
{
public:
    bool open(int width, int height)
    {
        m_width = width;
        m_height = height;
        m_display = wl_display_connect(nullptr);
        if (!m_display)
            return false;
        wl_registry* registry = wl_display_get_registry(m_display);
        static const wl_registry_listener listener = {
            [](void* data, wl_registry* r, uint32_t name, const char* interface, uint32_t) {
                auto* self = static_cast<VirtualPointer*>(data);
                if (!std::strcmp(interface, wl_seat_interface.name) && !self->m_seat)
                    self->m_seat =
                        static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, 1));
                else if (!std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
                    self->m_manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
                        wl_registry_bind(r, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
            },
            [](void*, wl_registry*, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(m_display);
        if (!m_seat || !m_manager)
            return false;
        m_pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(m_manager, m_seat);
        return wl_display_roundtrip(m_display) >= 0;
    }

    // Carries out one command line; false for one it does not know or a lost compositor.
    bool command(const QByteArray& line)
    {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.value(0) == "later" && words.size() == 2) {
            m_later += words[1].toUInt();
            return true;
        }
        if (words.value(0) == "move" && words.size() == 3)
            zwlr_virtual_pointer_v1_motion_absolute(m_pointer, now(), words[1].toUInt(),
                                                    words[2].toUInt(), m_width, m_height);
        else if (words.value(0) == "press" || words.value(0) == "release")
            zwlr_virtual_pointer_v1_button(m_pointer, now(),
                                           words.value(1) == "right" ? BTN_RIGHT : BTN_LEFT,
                                           words[0] == "press" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                               : WL_POINTER_BUTTON_STATE_RELEASED);
        else
            return false;
        zwlr_virtual_pointer_v1_frame(m_pointer);
        return wl_display_roundtrip(m_display) >= 0;
    }

private:
    uint32_t now() const
    {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000) + m_later;
    }

    wl_display* m_display = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_virtual_pointer_manager_v1* m_manager = nullptr;
    zwlr_virtual_pointer_v1* m_pointer = nullptr;
    int m_width = 0;
    int m_height = 0;
    uint32_t m_later = 0; // what the events' clock is ahead of the real one
};

class Source : public QWidget
{
public:
    Source(QUrl url, QString title) : m_url(std::move(url)), m_title(std::move(title)) {}

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        auto* data = new QMimeData;
        data->setUrls({m_url});
        const QString link = m_url.toString() + u'\n' + m_title;
        data->setData(QStringLiteral("text/x-moz-url"),
                      QByteArray(reinterpret_cast<const char*>(link.utf16()), link.size() * 2));
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        // The drag is the compositor's once the loop of exec() runs.
        QTimer::singleShot(0, [] {
            std::printf("drag-started\n");
            std::fflush(stdout);
        });
        const Qt::DropAction action = drag->exec(Qt::CopyAction | Qt::LinkAction);
        std::printf("drag-ended %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QUrl m_url;
    QString m_title;
};

} // namespace

// nimbril-test-drag-source DESKTOP_WIDTH DESKTOP_HEIGHT URL TITLE
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT URL TITLE\n", argv[0]);
        return 2;
    }
    VirtualPointer pointer;
    if (!pointer.open(args[1].toInt(), args[2].toInt())) {
        std::fprintf(stderr, "the compositor offers no virtual pointer\n");
        return 1;
    }
    Source source(QUrl(args[3]), args[4]);
    source.setWindowTitle(QStringLiteral("Nimbril drag source"));
    source.setFixedSize(200, 150);
    source.show();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QApplication::quit(); // the test has gone
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const bool done = pointer.command(pending.left(end));
            std::printf("%s\n", done ? "ok" : "failed");
            std::fflush(stdout);
        }
    });
    return app.exec();
}
