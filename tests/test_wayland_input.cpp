// The floating window under a user's hands on a Wayland desktop: a headless sway of the test's
// own, another program beside it whose virtual pointer is the mouse (tests/wayland/DragSource),
// and the floating window in this process as a native Wayland client. Where the window is, the
// compositor alone knows; the test asks it over sway's IPC.
#include "FloatingWindow.h"
#include "SingleInstance.h"
#include "TestContext.h"
#include "TestWait.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 20000;
// The desktop's size, the one output of the compositor.
constexpr int kWidth = 1024;
constexpr int kHeight = 768;

QString g_skipReason; // a tool the test needs is not installed
// The compositor is installed but cannot start here (a container may lack what it needs): the
// tests skip, with its last words as the reason.
QString g_startFailure;
QProcessEnvironment g_swayEnv;

// What the compositor answers (JSON) to a message over its IPC.
QByteArray Sway(const QStringList& message)
{
    QProcess swaymsg;
    swaymsg.setProcessEnvironment(g_swayEnv);
    swaymsg.start(QStringLiteral("swaymsg"), QStringList{QStringLiteral("-r")} + message);
    if (!swaymsg.waitForFinished(kWaitMs))
        return {};
    return swaymsg.readAllStandardOutput();
}

// The compositor's idea of where the window of this title is; empty when it has none.
QRect WindowRect(const QString& title)
{
    QList<QJsonObject> nodes{
        QJsonDocument::fromJson(Sway({QStringLiteral("-t"), QStringLiteral("get_tree")})).object()};
    while (!nodes.isEmpty()) {
        const QJsonObject node = nodes.takeLast();
        if (node.value(QStringLiteral("name")).toString() == title &&
            node.value(QStringLiteral("visible")).toBool()) {
            const QJsonObject r = node.value(QStringLiteral("rect")).toObject();
            return QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                         r.value(QStringLiteral("width")).toInt(),
                         r.value(QStringLiteral("height")).toInt());
        }
        for (const char* key : {"nodes", "floating_nodes"})
            for (const QJsonValue& child : node.value(QLatin1String(key)).toArray())
                nodes << child.toObject();
    }
    return {};
}

// The other program and its pointer.
class OtherProgram
{
public:
    explicit OtherProgram(const QString& url, const QString& title)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(NIMBRIL_DRAG_SOURCE),
                        {QString::number(kWidth), QString::number(kHeight), url, title});
    }
    ~OtherProgram()
    {
        m_process.closeWriteChannel(); // it ends when its input does
        if (!m_process.waitForFinished(kWaitMs))
            m_process.kill(); // the process this test started, by its id
    }

    // Sends one pointer command and waits for the compositor to have taken it.
    bool pointer(const QString& command)
    {
        m_process.write(command.toUtf8() + '\n');
        return waitForLine("ok");
    }
    bool moveTo(QPoint p) { return pointer(QStringLiteral("move %1 %2").arg(p.x()).arg(p.y())); }
    // Moves there in steps, as a hand does.
    bool glide(QPoint from, QPoint to)
    {
        constexpr int steps = 12;
        for (int i = 1; i <= steps; ++i)
            if (!moveTo(from + (to - from) * i / steps))
                return false;
        return true;
    }
    bool waitForLine(const QByteArray& line)
    {
        return spinUntil(
                   [&] {
                       while (m_process.canReadLine()) {
                           const QByteArray got = m_process.readLine().trimmed();
                           m_lines << got;
                           if (got == line)
                               return true;
                       }
                       return m_process.state() == QProcess::NotRunning;
                   },
                   kWaitMs) &&
               m_lines.contains(line);
    }
    QByteArrayList lines() const { return m_lines; }

private:
    QProcess m_process;
    QByteArrayList m_lines;
};

class WaylandInput : public ContextTest
{
protected:
    void SetUp() override
    {
        if (!g_skipReason.isEmpty())
            GTEST_SKIP() << g_skipReason.toStdString();
        if (!g_startFailure.isEmpty())
            GTEST_SKIP() << g_startFailure.toStdString();
        useEnglish();
        form = std::make_unique<FloatingWindow>(context());
        form->showViewer = [this] { ++viewerShown; };
        form->show();
        ASSERT_TRUE(
            spinUntil([&] { return !WindowRect(QStringLiteral("Nimbril")).isEmpty(); }, kWaitMs))
            << "the compositor never showed the floating window";
        ASSERT_TRUE(spinUntil([&] { return form->windowHandle()->isExposed(); }, kWaitMs));
    }

    // Where a point of a widget of the floating window is on the desktop.
    QPoint OnDesktop(QWidget* widget, QPoint local) const
    {
        return WindowRect(QStringLiteral("Nimbril")).topLeft() + widget->mapTo(form.get(), local);
    }

    std::unique_ptr<FloatingWindow> form;
    int viewerShown = 0;
};

TEST_F(WaylandInput, ALinkDraggedFromAnotherProgramOntoTheTextButtonBecomesAnInternetShortcut)
{
    OtherProgram other(QStringLiteral("http://127.0.0.1:9/news/today.html"),
                       QStringLiteral("Today's news"));
    QRect source;
    ASSERT_TRUE(spinUntil(
        [&] { return !(source = WindowRect(QStringLiteral("Nimbril drag source"))).isEmpty(); },
        kWaitMs))
        << "the other program's window never showed";
    const QPoint target = OnDesktop(form->btn_Text, form->btn_Text->rect().center());
    ASSERT_FALSE(source.contains(target)) << "the compositor put the windows over each other";

    ASSERT_TRUE(other.moveTo(source.center()));
    ASSERT_TRUE(other.pointer(QStringLiteral("press")));
    ASSERT_TRUE(other.waitForLine("drag-started")) << other.lines().join(' ').toStdString();
    ASSERT_TRUE(other.glide(source.center(), target));
    ASSERT_TRUE(other.pointer(QStringLiteral("release")));

    const QString shortcut = paths().favoritesDir + QStringLiteral("Today's news.url");
    ASSERT_TRUE(spinUntil([&] { return QFile::exists(shortcut); }, kWaitMs))
        << "nothing was stored; the other program said: " << other.lines().join(' ').toStdString();
    QFile file(shortcut);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("URL=http://127.0.0.1:9/news/today.html"));
    // The other program learns that its link was taken.
    EXPECT_TRUE(other.waitForLine("drag-ended " + QByteArray::number(int(Qt::CopyAction))));
    EXPECT_EQ(viewerShown, 0); // a drop is no click
}

TEST_F(WaylandInput, DraggingAButtonLetsTheCompositorMoveTheWindowAndClicksNothing)
{
    OtherProgram mouse(QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("unused"));
    ASSERT_TRUE(spinUntil(
        [&] { return !WindowRect(QStringLiteral("Nimbril drag source")).isEmpty(); }, kWaitMs));
    const QRect before = WindowRect(QStringLiteral("Nimbril"));
    const QPoint start = OnDesktop(form->btn_Text, form->btn_Text->rect().center());
    ASSERT_TRUE(mouse.moveTo(start));
    // The compositor has moved the pointer; the press must not overtake its arrival here.
    ASSERT_TRUE(spinUntil([&] { return form->btn_Text->underMouse(); }, kWaitMs))
        << "the pointer never came over the button";
    ASSERT_TRUE(mouse.pointer(QStringLiteral("press")));
    ASSERT_TRUE(spinUntil([] { return QGuiApplication::mouseButtons() & Qt::LeftButton; }, kWaitMs))
        << "the press never reached the button";
    ASSERT_TRUE(mouse.glide(start, start - QPoint(120, 60)));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("release")));

    // A client cannot place its own window here: only the compositor's move can have done it.
    // The window follows the pointer from where the move began, a step or two into the drag.
    QRect after;
    const auto followed = [&] {
        const QPoint moved =
            before.topLeft() - (after = WindowRect(QStringLiteral("Nimbril"))).topLeft();
        return moved.x() >= 60 && moved.x() <= 120 && moved.y() >= 30 && moved.y() <= 60;
    };
    EXPECT_TRUE(spinUntil(followed, kWaitMs))
        << "the window is at " << after.x() << "," << after.y() << ", was at " << before.x() << ","
        << before.y();
    EXPECT_FALSE(form->isDragMoving());
    EXPECT_EQ(viewerShown, 0);

    // A click without a move is still one, where the window now is; a second later by the
    // events' clock, so that it is no double click.
    const QPoint button = OnDesktop(form->btn_Text, form->btn_Text->rect().center());
    ASSERT_TRUE(mouse.pointer(QStringLiteral("later 1000")));
    ASSERT_TRUE(mouse.moveTo(button));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("press")));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("release")));
    EXPECT_TRUE(spinUntil([&] { return viewerShown == 1; }, kWaitMs));
}

// Without a tray: the window's own menu opens on a right click and hides the window, and a
// later start of the program (the real one, beside this process, which holds the instance lock
// as the program does) brings it back.
TEST_F(WaylandInput, WithoutATrayTheWindowsOwnMenuHidesItAndASecondStartBringsItBack)
{
    ASSERT_FALSE(form->TrayShown());
    SingleInstance instance(QStringLiteral("Nimbril"));
    ASSERT_TRUE(instance.tryAcquire());
    ASSERT_TRUE(instance.listen([this] { form->TrayLeftPress(); }));
    // High up on the screen, so that the menu opens downwards from the pointer.
    Sway({QStringLiteral("[title=\"^Nimbril$\"] move absolute position 300 20")});
    ASSERT_TRUE(spinUntil(
        [&] { return WindowRect(QStringLiteral("Nimbril")).topLeft() == QPoint(300, 20); },
        kWaitMs));

    OtherProgram mouse(QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("unused"));
    ASSERT_TRUE(spinUntil(
        [&] { return !WindowRect(QStringLiteral("Nimbril drag source")).isEmpty(); }, kWaitMs));
    const QPoint background = OnDesktop(form.get(), QPoint(100, 70));
    ASSERT_TRUE(mouse.moveTo(background));
    ASSERT_TRUE(spinUntil([&] { return form->underMouse(); }, kWaitMs))
        << "the pointer never came over the window";
    ASSERT_TRUE(mouse.pointer(QStringLiteral("press right")));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("release right")));
    QMenu* menu = form->pm_Text;
    ASSERT_TRUE(spinUntil([&] { return menu->windowHandle() && menu->windowHandle()->isExposed(); },
                          kWaitMs))
        << "no menu opened";
    // The popup stands where Qt put it beside the window; only the window's place is unknown.
    const QPoint hide = background + (menu->pos() - form->mapToGlobal(QPoint(100, 70))) +
                        menu->actionGeometry(form->item(QStringLiteral("m_HideWindow"))).center();
    ASSERT_TRUE(mouse.glide(background, hide));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("press")));
    ASSERT_TRUE(mouse.pointer(QStringLiteral("release")));
    ASSERT_TRUE(spinUntil([&] { return WindowRect(QStringLiteral("Nimbril")).isEmpty(); }, kWaitMs))
        << "the menu's Hide did not hide the window";

    QTemporaryDir app;
    for (const char* file : {"nimbril", "English.LAG"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(NIMBRIL_PROGRAM_DIR "/") + file,
                                app.filePath(QString::fromLatin1(file))));
    QFile::setPermissions(app.filePath("nimbril"), QFile::ReadOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), app.filePath(QStringLiteral("home")));
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(app.filePath("nimbril"), {});
    ASSERT_TRUE(spinUntil([&] { return second.state() == QProcess::NotRunning; }, kWaitMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(
        spinUntil([&] { return !WindowRect(QStringLiteral("Nimbril")).isEmpty(); }, kWaitMs))
        << "the second start did not bring the window back";
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // sway refuses to run as root; there it runs as nobody, in a runtime folder nobody owns
    // (this process, root, still reaches its sockets).
    QTemporaryDir home;
    QTemporaryDir swayRuntime; // sway's runtime folder, its home and its configuration
    const QString runtime = swayRuntime.path();
    const bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    const QString sway = QStandardPaths::findExecutable(QStringLiteral("sway"));
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    QProcess compositor;
    if (sway.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("swaymsg")).isEmpty())
        g_skipReason = QStringLiteral("sway is not installed");
    else if (QDir(plugins + QStringLiteral("/platforms"))
                 .entryList({QStringLiteral("libqwayland*")})
                 .isEmpty())
        g_skipReason =
            QStringLiteral("Qt's Wayland platform plugin (qt6-wayland) is not installed");
    else if (root && setpriv.isEmpty())
        g_skipReason = QStringLiteral("sway does not run as root, and setpriv is not installed");
    else {
        QFile config(swayRuntime.filePath(QStringLiteral("sway.conf")));
        config.open(QIODevice::WriteOnly);
        config.write("output HEADLESS-1 resolution 1024x768 position 0 0\n"
                     "xwayland disable\n"
                     "default_border none\n"
                     "default_floating_border none\n"
                     "focus_follows_mouse no\n"
                     "for_window [title=\"^Nimbril drag source$\"] floating enable, "
                     "move absolute position 40 40\n"
                     "for_window [title=\"^Nimbril$\"] floating enable, "
                     "move absolute position 600 300\n");
        config.close();
        QFile::setPermissions(config.fileName(), QFile::ReadOwner | QFile::ReadOther);
        if (root && ::chown(QFile::encodeName(runtime).constData(), nobody, nobody) != 0)
            g_startFailure = QStringLiteral("the runtime folder cannot be given to nobody");
        g_swayEnv = QProcessEnvironment::systemEnvironment();
        g_swayEnv.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        g_swayEnv.insert(QStringLiteral("HOME"), runtime);
        const QString ipc = runtime + QStringLiteral("/sway-ipc.sock");
        g_swayEnv.insert(QStringLiteral("SWAYSOCK"), ipc);
        g_swayEnv.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        g_swayEnv.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        g_swayEnv.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        g_swayEnv.remove(QStringLiteral("WAYLAND_DISPLAY"));
        g_swayEnv.remove(QStringLiteral("DISPLAY"));
        compositor.setProcessEnvironment(g_swayEnv);
        compositor.setProcessChannelMode(QProcess::MergedChannels);
        compositor.setStandardOutputFile(home.filePath(QStringLiteral("sway.log")));
        compositor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QStringList command{sway, QStringLiteral("-c"), config.fileName()};
        if (root)
            command =
                QStringList{setpriv, QStringLiteral("--reuid=65534"),
                            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")} +
                command;
        if (g_startFailure.isEmpty())
            compositor.start(command.takeFirst(), command);
        // It takes clients once its IPC socket is there, made after its Wayland socket.
        QDeadlineTimer deadline(kWaitMs);
        while (g_startFailure.isEmpty() && !QFile::exists(ipc) && !deadline.hasExpired() &&
               !compositor.waitForFinished(50)) {
        }
        const QStringList sockets =
            QDir(runtime).entryList({QStringLiteral("wayland-*")}, QDir::System);
        const QStringList named =
            sockets.filter(QRegularExpression(QStringLiteral("^wayland-\\d+$")));
        if (g_startFailure.isEmpty() && (named.isEmpty() || !QFile::exists(ipc))) {
            QFile log(home.filePath(QStringLiteral("sway.log")));
            log.open(QIODevice::ReadOnly);
            g_startFailure = QStringLiteral("sway did not start: ") +
                             QString::fromUtf8(log.readAll().right(1500));
        }
        if (!named.isEmpty())
            g_swayEnv.insert(QStringLiteral("WAYLAND_DISPLAY"), named.first());
    }
    if (g_skipReason.isEmpty() && g_startFailure.isEmpty()) {
        // The clients (this process, the other program) keep a runtime folder of their own, as
        // Qt wants its owner to be the user, and find the compositor by its socket's path.
        const QString clientRuntime = home.filePath(QStringLiteral("client-run"));
        QDir().mkpath(clientRuntime);
        QFile::setPermissions(clientRuntime,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(clientRuntime));
        qputenv(
            "WAYLAND_DISPLAY",
            QFile::encodeName(runtime + u'/' + g_swayEnv.value(QStringLiteral("WAYLAND_DISPLAY"))));
        qputenv("QT_QPA_PLATFORM", "wayland");
        qunsetenv("DISPLAY");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (compositor.state() != QProcess::NotRunning) {
        compositor.terminate(); // the compositor this test started, by its process id
        if (!compositor.waitForFinished(kWaitMs))
            compositor.kill();
    }
    return result;
}
