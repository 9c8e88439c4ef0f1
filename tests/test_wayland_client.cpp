// The program as a native Wayland client: a headless Weston on a socket of the test's own, in a
// runtime folder of its own, with no X display to fall back on. The floating window must map
// there, and the desktop layer must not be the X11 one. The tray of such desktops is a
// StatusNotifierItem host: a stand-in watcher on a D-Bus bus of the test's own (a dbus-daemon it
// starts and ends) takes the program's item, and the test plays the host that shows its menu.
#include "Desktop.h"
#include "FloatingWindow.h"
#include "TestContext.h"
#include "TestWait.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

namespace {

QString g_skipReason;   // a tool the test needs is not installed
QString g_startFailure; // the compositor is installed but did not start
QString g_busAddress;   // the test's own session bus; empty where dbus-daemon is missing

// The watcher of StatusNotifierItems that a tray host runs, with a host registered. It answers
// from a thread of its own: the program asks it, blocking, from this test's thread.
class StandInWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service)
    {
        QMutexLocker lock(&m_mutex);
        m_items << service;
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};
StandInWatcher* g_watcher = nullptr;

// A call to the program, answered while this thread runs its events; the reply's arguments.
QVariantList Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QVariantList& args)
{
    QDBusConnection host = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("host"));
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    QDBusPendingCall call = host.asyncCall(message);
    if (!spinUntil([&] { return call.isFinished(); }, 20000) || call.isError())
        return {};
    return call.reply().arguments();
}

// The labels of a com.canonical.dbusmenu layout, (ia{sv}av), by item id.
void CollectLabels(const QDBusArgument& node, QMap<QString, int>& labels)
{
    int id = 0;
    QVariantMap properties;
    node.beginStructure();
    node >> id >> properties;
    node.beginArray();
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        CollectLabels(qvariant_cast<QDBusArgument>(child.variant()), labels);
    }
    node.endArray();
    node.endStructure();
    if (properties.contains(QStringLiteral("label")))
        labels.insert(properties.value(QStringLiteral("label")).toString().remove(u'_'), id);
}

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

TEST_F(WaylandClient,
       TheTrayIsAStatusNotifierItemWithEveryCommandWhoseActivationBringsTheWindowBack)
{
    if (g_busAddress.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed";
    FloatingWindow form(context());
    int viewerShown = 0;
    form.showViewer = [&] { ++viewerShown; };
    const qsizetype before = g_watcher->items().size(); // earlier tests' items are gone
    form.FormCreate();
    form.show();
    ASSERT_TRUE(spinUntil([&] { return g_watcher->items().size() > before; }, 20000))
        << "the program registered no StatusNotifierItem";
    EXPECT_TRUE(form.TrayShown());
    const QString item = g_watcher->items().constLast();
    const QString sni = QStringLiteral("org.kde.StatusNotifierItem");

    // The host finds the menu where the item says and shows every command of it.
    const QVariantList menu = Call(item, QStringLiteral("/StatusNotifierItem"),
                                   QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("Get"), {sni, QStringLiteral("Menu")});
    ASSERT_EQ(menu.size(), 1);
    const QString menuPath =
        qvariant_cast<QDBusVariant>(menu[0]).variant().value<QDBusObjectPath>().path();
    const QVariantList layout = Call(item, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                     QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layout.size(), 2) << "no com.canonical.dbusmenu at " << menuPath.toStdString();
    QMap<QString, int> labels;
    CollectLabels(qvariant_cast<QDBusArgument>(layout[1]), labels);
    ASSERT_FALSE(form.itemNames().isEmpty());
    for (const QString& name : form.itemNames())
        EXPECT_TRUE(labels.contains(form.item(name)->text().remove(u'&')))
            << name.toStdString() << " is missing from the exported menu";

    // A click in the host's menu runs the command.
    const QString view = form.item(QStringLiteral("m_ViewStashet"))->text().remove(u'&');
    Call(item, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"),
         {labels.value(view), QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(spinUntil([&] { return viewerShown == 1; }, 20000));

    // Hidden, the window comes back when the host activates the item (a click on the icon).
    form.m_HideWindowClick();
    ASSERT_FALSE(form.isVisible());
    Call(item, QStringLiteral("/StatusNotifierItem"), sni, QStringLiteral("Activate"), {0, 0});
    EXPECT_TRUE(spinUntil(
        [&] { return form.isVisible() && form.windowHandle() && form.windowHandle()->isExposed(); },
        20000));
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
    // A session bus of the test's own, which the program's tray finds at its first use.
    QProcess bus;
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (!daemon.isEmpty()) {
        QFile config(runtime.filePath(QStringLiteral("bus.conf")));
        config.open(QIODevice::WriteOnly);
        config.write(
            "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(runtime.path()) +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
            "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        bus.start(daemon, {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                           QStringLiteral("--config-file=") + config.fileName()});
        if (bus.waitForReadyRead(20000))
            g_busAddress = QString::fromUtf8(bus.readLine()).trimmed();
        if (!g_busAddress.isEmpty())
            qputenv("DBUS_SESSION_BUS_ADDRESS", g_busAddress.toUtf8());
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
        QThread watcherThread;
        StandInWatcher watcher;
        if (!g_busAddress.isEmpty()) {
            QDBusConnection service =
                QDBusConnection::connectToBus(g_busAddress, QStringLiteral("watcher"));
            service.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllProperties);
            watcher.moveToThread(&watcherThread);
            watcherThread.start();
            service.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            g_watcher = &watcher;
        }
        result = RUN_ALL_TESTS();
        QDBusConnection(QStringLiteral("watcher"))
            .unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        QDBusConnection::disconnectFromBus(QStringLiteral("host"));
        watcherThread.quit();
        watcherThread.wait();
    }
    if (bus.state() != QProcess::NotRunning) {
        bus.terminate(); // the bus this test started, by its process id
        if (!bus.waitForFinished(10000))
            bus.kill();
    }
    if (compositor.state() != QProcess::NotRunning) {
        compositor.terminate(); // the compositor this test started, by its process id
        if (!compositor.waitForFinished(10000))
            compositor.kill();
    }
    return result;
}

#include "test_wayland_client.moc"
