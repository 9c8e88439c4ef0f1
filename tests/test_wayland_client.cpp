// The program as a native Wayland client: a headless Weston on a socket of the test's own, in a
// runtime folder of its own, with no X display to fall back on. The floating window must map
// there, and the desktop layer must not be the X11 one.
#include "Desktop.h"
#include "FloatingWindow.h"
#include "TestContext.h"
#include "TestWait.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

namespace {

QString g_skipReason;   // a tool the test needs is not installed
QString g_startFailure; // the compositor is installed but did not start

class WaylandClient : public ContextTest
{
protected:
    void SetUp() override
    {
        if (!g_skipReason.isEmpty())
            GTEST_SKIP() << g_skipReason.toStdString();
        ASSERT_TRUE(g_startFailure.isEmpty()) << g_startFailure.toStdString();
        QDir().mkpath(paths().collectionRoot);
        language().setLanguage("English");
    }
};

TEST_F(WaylandClient, StartsOnWaylandAndTheFloatingWindowMapsWithItsMenu)
{
    EXPECT_EQ(QGuiApplication::platformName().toStdString(), "wayland");
    EXPECT_NE(ChooseDesktop()->name().toStdString(), "x11");

    FloatingWindow form(context());
    form.FormCreate();
    form.show();
    ASSERT_TRUE(
        spinUntil([&] { return form.windowHandle() && form.windowHandle()->isExposed(); }, 20000))
        << "the compositor never showed the floating window";

    // The menu maps as a popup of the floating window.
    form.TrayRightPress(form.geometry().center());
    ASSERT_TRUE(spinUntil(
        [&] { return form.pm_Text->windowHandle() && form.pm_Text->windowHandle()->isExposed(); },
        20000))
        << "the menu did not map";
    EXPECT_FALSE(form.pm_Text->actions().isEmpty());
    form.pm_Text->close();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // A compositor of the test's own, found by its socket in a runtime folder of the test's own.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString socket = QStringLiteral("nimbril-test-wayland");
    const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    QProcess compositor;
    if (weston.isEmpty())
        g_skipReason = QStringLiteral("weston is not installed");
    else if (QDir(plugins + QStringLiteral("/platforms"))
                 .entryList({QStringLiteral("libqwayland*")})
                 .isEmpty())
        g_skipReason =
            QStringLiteral("Qt's Wayland platform plugin (qt6-wayland) is not installed");
    else {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("DISPLAY"));
        compositor.setProcessEnvironment(env);
        compositor.setProcessChannelMode(QProcess::MergedChannels);
        compositor.setStandardOutputFile(runtime.filePath(QStringLiteral("weston.log")));
        compositor.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        compositor.start(weston, {QStringLiteral("--backend=headless-backend.so"),
                                  QStringLiteral("--socket=") + socket,
                                  QStringLiteral("--no-config"), QStringLiteral("--idle-time=0")});
        // The socket appears once the compositor takes clients.
        const QString path = runtime.filePath(socket);
        QDeadlineTimer deadline(20000);
        while (!QFile::exists(path) && !deadline.hasExpired() && !compositor.waitForFinished(50)) {
        }
        if (!QFile::exists(path)) {
            QFile log(runtime.filePath(QStringLiteral("weston.log")));
            log.open(QIODevice::ReadOnly);
            g_startFailure = QStringLiteral("weston did not start: ") +
                             QString::fromUtf8(log.readAll().right(1000));
        }
    }
    if (g_skipReason.isEmpty() && g_startFailure.isEmpty()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("WAYLAND_DISPLAY", socket.toUtf8());
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
        if (!compositor.waitForFinished(10000))
            compositor.kill();
    }
    return result;
}
