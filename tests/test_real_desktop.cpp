// The program on a real X server with a window manager and a tray: the ways a user could lose it
// (Hide, minimising commands, a second start, a drag, the colour picker's stopping click). The
// executable starts its own Xvfb on a free display, openbox and trayer, and ends them by PID.
#include "ColorCell.h"
#include "ColorPicker.h"
#include "FloatingWindow.h"
#include "TestContext.h"
#include "TestWait.h"
#include "X11Desktop.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolButton>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#undef None
#undef Bool
#undef Status

namespace {

constexpr int kWaitMs = 10000;

// Waits, without an event loop, until the condition holds or the time is up.
bool WaitWithoutEvents(const std::function<bool()>& done)
{
    for (int waited = 0; waited < kWaitMs; waited += 20) {
        if (done())
            return true;
        usleep(20 * 1000);
    }
    return done();
}

// The X server, window manager and tray of the whole run, with a connection of the test's own.
// They are started before the application exists (it connects to their display) and ended by
// their process ids after it is gone.
struct Session
{
    QTemporaryDir home;
    std::vector<pid_t> processes;
    QString display;
    Display* x = nullptr;

    ~Session()
    {
        if (x)
            XCloseDisplay(x);
        // Last started, first ended: the tray and window manager before their X server.
        for (auto it = processes.rbegin(); it != processes.rend(); ++it)
            end(*it);
    }

    static bool running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    static void end(pid_t pid)
    {
        kill(pid, SIGTERM);
        if (!WaitWithoutEvents([pid] { return !running(pid); }))
            kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    // Starts a program with its output thrown away; 0 when it cannot be started.
    pid_t start(const QStringList& command)
    {
        std::vector<QByteArray> words;
        for (const QString& word : command)
            words.push_back(word.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (pid < 0)
            return 0;
        processes.push_back(pid);
        return pid;
    }

    // Xvfb on the first display number nobody uses; the socket's appearance says it is up.
    bool startServer()
    {
        for (int n = 90; n < 200; ++n) {
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            const pid_t server = start({QStringLiteral("Xvfb"), QStringLiteral(":%1").arg(n),
                                        QStringLiteral("-screen"), QStringLiteral("0"),
                                        QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                        QStringLiteral("tcp")});
            if (!server)
                return false;
            WaitWithoutEvents([&] { return QFile::exists(socket) || !running(server); });
            if (running(server) && QFile::exists(socket)) {
                display = QStringLiteral(":%1").arg(n);
                return true;
            }
            // Another server took the number meanwhile: the next one. A server that has ended
            // was reaped by running(); its number may be another process's by now.
            if (running(server))
                end(server);
            processes.pop_back();
        }
        return false;
    }

    bool hasSelectionOwner(const char* selection)
    {
        return XGetSelectionOwner(x, XInternAtom(x, selection, False)) != 0;
    }

    bool startDesktop()
    {
        if (!startServer())
            return false;
        qputenv("DISPLAY", display.toLocal8Bit());
        // The window manager and the tray read no configuration of the user's.
        qputenv("HOME", home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
        x = XOpenDisplay(display.toLocal8Bit().constData());
        if (!x || !start({QStringLiteral("openbox")}))
            return false;
        if (!WaitWithoutEvents([&] { return hasSelectionOwner("WM_S0"); }))
            return false;
        if (!start({QStringLiteral("trayer"), QStringLiteral("--edge"), QStringLiteral("top"),
                    QStringLiteral("--align"), QStringLiteral("right"),
                    QStringLiteral("--widthtype"), QStringLiteral("request"),
                    QStringLiteral("--height"), QStringLiteral("24")}))
            return false;
        return WaitWithoutEvents([&] { return hasSelectionOwner("_NET_SYSTEM_TRAY_S0"); });
    }

    // The ICCCM state the window manager gives a top-level window: 1 normal, 3 minimised, 0 none.
    long wmState(WId window)
    {
        const Atom wmStateAtom = XInternAtom(x, "WM_STATE", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        long state = 0;
        if (XGetWindowProperty(x, window, wmStateAtom, 0, 2, False, wmStateAtom, &type, &format,
                               &count, &after, &data) == Success &&
            data && count > 0)
            state = long(reinterpret_cast<unsigned long*>(data)[0]);
        if (data)
            XFree(data);
        return state;
    }

    void minimize(WId window)
    {
        XIconifyWindow(x, window, DefaultScreen(x));
        XFlush(x);
    }

    // The managed top-level window of this class, 0 while there is none.
    WId windowOfClass(const char* windowClass)
    {
        for (WId w : windowList()) {
            XClassHint hint{nullptr, nullptr};
            if (!XGetClassHint(x, w, &hint))
                continue;
            const bool match = hint.res_class && qstrcmp(hint.res_class, windowClass) == 0;
            XFree(hint.res_name);
            XFree(hint.res_class);
            if (match)
                return w;
        }
        return 0;
    }

    // The managed top-level window of a process, 0 while it has none.
    WId windowOfProcess(qint64 pid)
    {
        const Atom pidAtom = XInternAtom(x, "_NET_WM_PID", False);
        for (WId w : windowList()) {
            Atom type = 0;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            bool match = false;
            if (XGetWindowProperty(x, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                                   &after, &data) == Success &&
                data && count == 1)
                match = qint64(reinterpret_cast<unsigned long*>(data)[0]) == pid;
            if (data)
                XFree(data);
            if (match)
                return w;
        }
        return 0;
    }

    QList<WId> windowList()
    {
        QList<WId> out;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x, DefaultRootWindow(x), XInternAtom(x, "_NET_CLIENT_LIST", False),
                               0, 1024, False, XA_WINDOW, &type, &format, &count, &after,
                               &data) == Success &&
            data)
            for (unsigned long i = 0; i < count; ++i)
                out << WId(reinterpret_cast<unsigned long*>(data)[i]);
        if (data)
            XFree(data);
        return out;
    }
};

Session* g_session = nullptr;

// The user's hand: pointer and buttons through xdotool, which uses the server's test extension.
// The program's events go on meanwhile, as they would while a user moves the mouse.
void Xdotool(const QStringList& args)
{
    QProcess hand;
    hand.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(spinUntil([&] { return hand.state() == QProcess::NotRunning; }, kWaitMs))
        << args.join(' ').toStdString();
    ASSERT_EQ(hand.exitCode(), 0) << args.join(' ').toStdString();
}

void ClickAt(QPoint global, int button = 1)
{
    Xdotool({"mousemove", QString::number(global.x()), QString::number(global.y()), "click",
             QString::number(button)});
}

// A window of the test's own that counts the presses it gets. Clicking it after a gesture
// tells the test that every event of the gesture has been delivered, as the server keeps order.
class Marker : public QWidget
{
public:
    Marker()
    {
        setWindowTitle(QStringLiteral("marker"));
        setGeometry(40, 300, 160, 120);
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

class RealDesktop : public ContextTest
{
protected:
    void SetUp() override
    {
        ASSERT_NE(g_session, nullptr) << "no X server, window manager or tray could be started "
                                         "(scripts/deps.sh installs Xvfb, openbox and trayer)";
        x11 = X11Desktop::open();
        ASSERT_TRUE(x11);
        standInDesktop.target = x11.get();
        QDir().mkpath(paths().collectionRoot);
        form = std::make_unique<FloatingWindow>(context());
        form->showViewer = [this] { ++viewerShown; };
        form->FormCreate();
        form->show();
        ASSERT_TRUE(spinUntil([&] { return session().wmState(form->winId()) == 1; }, kWaitMs));
        marker.show();
        ASSERT_TRUE(spinUntil([&] { return session().wmState(marker.winId()) == 1; }, kWaitMs));
    }
    void TearDown() override { form.reset(); }
    Session& session() { return *g_session; }

    // Clicks the marker and waits until it has the press: whatever came before is delivered.
    bool settle()
    {
        const int before = marker.presses;
        marker.raise();
        ClickAt(marker.geometry().center());
        return spinUntil([&] { return marker.presses > before; }, kWaitMs);
    }

    QWidget* trayIconWindow() const
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QSystemTrayIconSys"))
                return w;
        return nullptr;
    }

    std::unique_ptr<X11Desktop> x11;
    std::unique_ptr<FloatingWindow> form;
    Marker marker;
    int viewerShown = 0;
};

TEST_F(RealDesktop, HideKeepsTheTrayIconWhoseLeftClickBringsHiddenAndMinimisedWindowsBack)
{
    ASSERT_TRUE(spinUntil(
        [&] { return form->TrayShown() && !form->trayIcon->geometry().isEmpty(); }, kWaitMs));
    QWidget viewer;
    viewer.setWindowTitle(QStringLiteral("viewer"));
    viewer.setGeometry(300, 200, 200, 150);
    viewer.show();
    ASSERT_TRUE(spinUntil([&] { return session().wmState(viewer.winId()) == 1; }, kWaitMs));

    form->item("m_HideWindow")->trigger();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(viewer.isVisible());
    ASSERT_NE(trayIconWindow(), nullptr);
    EXPECT_TRUE(trayIconWindow()->isVisible());
    ClickAt(form->trayIcon->geometry().center());
    EXPECT_TRUE(spinUntil([&] { return session().wmState(form->winId()) == 1; }, kWaitMs));
    EXPECT_TRUE(spinUntil([&] { return session().wmState(viewer.winId()) == 1; }, kWaitMs));

    // Minimised by the window manager (show() alone would leave them so).
    session().minimize(form->winId());
    session().minimize(viewer.winId());
    ASSERT_TRUE(spinUntil([&] { return form->isMinimized() && viewer.isMinimized(); }, kWaitMs));
    ClickAt(form->trayIcon->geometry().center());
    EXPECT_TRUE(spinUntil(
        [&] {
            return session().wmState(form->winId()) == 1 && session().wmState(viewer.winId()) == 1;
        },
        kWaitMs));
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(viewerShown, 0);
}

TEST_F(RealDesktop, SaveCommandsMinimiseTheOtherProgramsButNeverOurWindow)
{
    QProcess other;
    other.start(QStringLiteral("xmessage"),
                {QStringLiteral("-geometry"), QStringLiteral("+200+200"),
                 QStringLiteral("another program")});
    ASSERT_TRUE(other.waitForStarted(kWaitMs));
    WId otherWindow = 0;
    ASSERT_TRUE(spinUntil(
        [&] {
            otherWindow = session().windowOfClass("Xmessage");
            return otherWindow && session().wmState(otherWindow) == 1;
        },
        kWaitMs));

    // No browser answers here: the command fails and says so, after minimising.
    form->item("m_SaveAllPages")->trigger();
    EXPECT_TRUE(spinUntil([&] { return session().wmState(otherWindow) == 3; }, kWaitMs));
    EXPECT_TRUE(settle());
    EXPECT_EQ(session().wmState(form->winId()), 1);
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(prompts().shown().size(), 1);

    other.terminate();
    other.waitForFinished(kWaitMs);
}

TEST_F(RealDesktop, DraggingAButtonMovesTheWindowAndClicksNothing)
{
    const QPoint start = form->btn_Text->mapToGlobal(form->btn_Text->rect().center());
    const QPoint before = form->frameGeometry().topLeft();
    Xdotool(
        {"mousemove", QString::number(start.x()), QString::number(start.y()), "mousedown", "1"});
    ASSERT_TRUE(
        spinUntil([] { return QGuiApplication::mouseButtons() & Qt::LeftButton; }, kWaitMs));
    for (int step = 1; step <= 8; ++step)
        Xdotool({"mousemove", QString::number(start.x() - 10 * step), QString::number(start.y())});
    Xdotool({"mouseup", "1"});
    EXPECT_TRUE(spinUntil([&] { return form->frameGeometry().x() <= before.x() - 40; }, kWaitMs));
    EXPECT_TRUE(settle());
    EXPECT_EQ(viewerShown, 0);
    EXPECT_TRUE(form->isVisible());

    // A click without a move still is one.
    ClickAt(form->btn_Text->mapToGlobal(form->btn_Text->rect().center()));
    EXPECT_TRUE(spinUntil([&] { return viewerShown == 1; }, kWaitMs));
}

TEST_F(RealDesktop, ThePickersStoppingClickReachesNoOtherWindow)
{
    QString paletteFile;
    ColorPicker picker(context(), paletteFile);
    picker.show();
    ASSERT_TRUE(spinUntil([&] { return session().wmState(picker.winId()) == 1; }, kWaitMs));
    ColorCell* cell = picker.cells.first();
    ClickAt(cell->mapToGlobal(cell->rect().center()));
    ASSERT_TRUE(spinUntil([&] { return picker.Capturing(); }, kWaitMs));

    // The press over another window is the picker's: it stops the capture, however short.
    const int before = marker.presses;
    ClickAt(marker.geometry().center());
    EXPECT_TRUE(spinUntil([&] { return !picker.Capturing(); }, kWaitMs));
    EXPECT_EQ(marker.presses, before);
    // The mouse is free again.
    EXPECT_TRUE(settle());
}

TEST_F(RealDesktop, ASecondStartBringsTheRunningProgramsWindowBackAndEnds)
{
    form.reset(); // the program's own floating window is the one to watch here
    QTemporaryDir app;
    for (const char* file : {"nimbril", "English.LAG"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(NIMBRIL_PROGRAM_DIR "/") + file,
                                app.filePath(QString::fromLatin1(file))));
    QFile::setPermissions(app.filePath("nimbril"), QFile::ReadOwner | QFile::ExeOwner);
    QProcess first;
    first.start(app.filePath("nimbril"), {});
    ASSERT_TRUE(first.waitForStarted(kWaitMs));
    WId window = 0;
    ASSERT_TRUE(spinUntil(
        [&] {
            window = session().windowOfProcess(first.processId());
            return window && session().wmState(window) == 1;
        },
        kWaitMs));
    session().minimize(window);
    ASSERT_TRUE(spinUntil([&] { return session().wmState(window) == 3; }, kWaitMs));

    QProcess second;
    second.start(app.filePath("nimbril"), {});
    ASSERT_TRUE(second.waitForFinished(kWaitMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(spinUntil([&] { return session().wmState(window) == 1; }, kWaitMs));
    EXPECT_EQ(session().windowOfProcess(second.processId()), 0u);

    first.terminate();
    first.waitForFinished(kWaitMs);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The session is made before the application, which connects to its display.
    auto* session = new Session;
    const bool up = session->startDesktop();
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 1;
    {
        std::unique_ptr<QApplication> app;
        if (up) {
            app = std::make_unique<QApplication>(argc, argv);
            QApplication::setQuitOnLastWindowClosed(false);
            g_session = session;
        }
        result = RUN_ALL_TESTS();
    }
    delete session;
    return result;
}
