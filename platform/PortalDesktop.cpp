#include "PortalDesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QPointer>
#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenshot = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

// The colour of a Response's results: three doubles from 0 to 1 in a structure.
std::optional<QRgb> ColorOfResults(const QVariantMap& results)
{
    const QVariant value = results.value(QStringLiteral("color"));
    if (!value.canConvert<QDBusArgument>())
        return std::nullopt;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(ddd)"))
        return std::nullopt;
    double rgb[3] = {};
    argument.beginStructure();
    argument >> rgb[0] >> rgb[1] >> rgb[2];
    argument.endStructure();
    auto channel = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return qRgb(channel(rgb[0]), channel(rgb[1]), channel(rgb[2]));
}

} // namespace

// One pick in flight: it waits for the Response signal of the portal's request object and
// hands its outcome on once, then goes.
class PortalColorRequest : public QObject
{
    Q_OBJECT

public:
    PortalColorRequest(QDBusConnection bus, DesktopPlatform::ColorPicked done)
        : m_bus(std::move(bus)), m_done(std::move(done))
    {}

    // Listens on the object the request will have. The portal names it after this connection
    // and the token given, so the answer cannot come before anyone listens.
    bool listen(const QString& path)
    {
        if (path == m_path)
            return true;
        if (!m_path.isEmpty())
            m_bus.disconnect(kService, m_path, kRequest, QStringLiteral("Response"), this,
                             SLOT(response(uint, QVariantMap)));
        m_path = path;
        return m_bus.connect(kService, m_path, kRequest, QStringLiteral("Response"), this,
                             SLOT(response(uint, QVariantMap)));
    }

    void finish(const DesktopPlatform::ColorPick& pick)
    {
        if (!m_done)
            return;
        m_bus.disconnect(kService, m_path, kRequest, QStringLiteral("Response"), this,
                         SLOT(response(uint, QVariantMap)));
        const DesktopPlatform::ColorPicked done = std::exchange(m_done, {});
        deleteLater();
        done(pick);
    }

public Q_SLOTS:
    // 0: picked; 1: the user cancelled; 2: the pick ended otherwise.
    void response(uint code, const QVariantMap& results)
    {
        using Outcome = DesktopPlatform::ColorPick::Outcome;
        if (code == 1)
            return finish({Outcome::Cancelled, 0});
        const std::optional<QRgb> color = code == 0 ? ColorOfResults(results) : std::nullopt;
        finish(color ? DesktopPlatform::ColorPick{Outcome::Picked, *color}
                     : DesktopPlatform::ColorPick{Outcome::Failed, 0});
    }

private:
    QDBusConnection m_bus;
    DesktopPlatform::ColorPicked m_done;
    QString m_path;
};

struct PortalDesktop::Impl
{
    QString address;
    QString connectionName;
    std::optional<QDBusConnection> bus;
    int nextToken = 0;
    QObject requests; // the picks in flight, let go before the bus

    QDBusConnection& connection()
    {
        if (!bus)
            bus = address.isEmpty() ? QDBusConnection::sessionBus()
                                    : QDBusConnection::connectToBus(address, connectionName);
        return *bus;
    }
};

std::unique_ptr<PortalDesktop> PortalDesktop::open()
{
    // Without an address libdbus may try to start a bus of its own; only a session that has
    // one is asked.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        !(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") &&
          QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus"))))
        return nullptr;
    return std::make_unique<PortalDesktop>();
}

PortalDesktop::PortalDesktop(const QString& busAddress) : d(std::make_unique<Impl>())
{
    d->address = busAddress;
    d->connectionName =
        QStringLiteral("nimbril-portal-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

PortalDesktop::~PortalDesktop()
{
    qDeleteAll(d->requests.children());
    if (d->bus && !d->address.isEmpty())
        QDBusConnection::disconnectFromBus(d->connectionName);
}

bool PortalDesktop::canPickColor() const
{
    QDBusConnection& bus = d->connection();
    if (!bus.isConnected() || !bus.interface())
        return false;
    QDBusConnectionInterface* daemon = bus.interface();
    return daemon->isServiceRegistered(kService).value() ||
           daemon->activatableServiceNames().value().contains(kService);
}

void PortalDesktop::pickColor(ColorPicked done)
{
    QDBusConnection& bus = d->connection();
    if (!bus.isConnected())
        return done({});
    const QString token = QStringLiteral("nimbril%1").arg(++d->nextToken);
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    auto* request = new PortalColorRequest(bus, std::move(done));
    request->setParent(&d->requests);
    request->listen(QStringLiteral("%1/request/%2/%3").arg(kPath, sender, token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kScreenshot, QStringLiteral("PickColor"));
    // No parent window to name: the handle would be an xdg-foreign export on Wayland.
    call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), request);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                     [request](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *w;
                         if (reply.isError())
                             return request->finish({});
                         // A portal older than request tokens names another object.
                         request->listen(reply.value().path());
                     });
}

#include "PortalDesktop.moc"
