// The colour picker where the screen cannot be read: the desktop portal's colour pick, asked over
// a D-Bus bus of the test's own (a dbus-daemon it starts and ends) where a stand-in portal
// answers the way the real one does, through the Response signal of a request object whose path
// the caller's bus name and token make.
#include "ColorCell.h"
#include "ColorPicker.h"
#include "PortalDesktop.h"
#include "TestContext.h"
#include "TestWait.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The portal's Screenshot interface, answering each PickColor with the response set beforehand.
class StandInPortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
    explicit StandInPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    uint code = 0;
    double rgb[3] = {};
    QStringList tokens; // of every call, in order

public Q_SLOTS:
    QDBusObjectPath PickColor(const QString& parentWindow, const QVariantMap& options)
    {
        Q_UNUSED(parentWindow);
        const QString token = options.value(QStringLiteral("handle_token")).toString();
        tokens << token;
        QString sender = message().service().mid(1);
        sender.replace(u'.', u'_');
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        QDBusArgument color;
        color.beginStructure();
        color << rgb[0] << rgb[1] << rgb[2];
        color.endStructure();
        QDBusMessage response = QDBusMessage::createSignal(
            path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        response << code << QVariantMap{{QStringLiteral("color"), QVariant::fromValue(color)}};
        // The user answers after the call has returned.
        QTimer::singleShot(0, this, [this, response] { m_bus.send(response); });
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection m_bus;
};

void Press(QWidget* widget)
{
    const QPointF local(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonPress, local, widget->mapToGlobal(local), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A portal desktop that also keeps every outcome, so that a test knows the answer has come.
class WatchedPortalDesktop : public PortalDesktop
{
public:
    using PortalDesktop::PortalDesktop;
    void pickColor(ColorPicked done) override
    {
        PortalDesktop::pickColor([this, done](const ColorPick& pick) {
            outcomes << pick.outcome;
            done(pick);
        });
    }
    QList<ColorPick::Outcome> outcomes;
};

class PortalPick : public ContextTest
{
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        QFile config(tmp.filePath("bus.conf"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(
            "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(tmp.path()) +
            "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        bus.start(daemon, {"--nofork", "--print-address", "--config-file=" + config.fileName()});
        ASSERT_TRUE(spinUntil([this] { return bus.canReadLine() || !bus.isOpen(); }, 20000))
            << bus.readAllStandardError().toStdString();
        address = QString::fromUtf8(bus.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty()) << bus.readAllStandardError().toStdString();

        useEnglish();
        desktop = std::make_unique<WatchedPortalDesktop>(address);
        standInDesktop.target = desktop.get();
        form = std::make_unique<ColorPicker>(context(), paletteFile);
    }

    void TearDown() override
    {
        form.reset();
        desktop.reset();
        portal.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in portal"));
        if (bus.state() != QProcess::NotRunning) {
            bus.terminate(); // by its own process id
            bus.waitForFinished(10000);
        }
    }

    void startPortal()
    {
        QDBusConnection service =
            QDBusConnection::connectToBus(address, QStringLiteral("stand-in portal"));
        ASSERT_TRUE(service.isConnected());
        portal = std::make_unique<StandInPortal>(service);
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"),
                                           portal.get(), QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    ColorCell* cell(int number) const
    {
        for (ColorCell* c : form->cells)
            if (c->Tag() == number)
                return c;
        return nullptr;
    }
    // Clicks the cell and waits for the portal's answer.
    void pickInto(int number)
    {
        const qsizetype before = desktop->outcomes.size();
        Press(cell(number));
        ASSERT_TRUE(spinUntil([&] { return desktop->outcomes.size() > before; }, 20000));
    }

    QProcess bus;
    QString address;
    std::unique_ptr<StandInPortal> portal;
    std::unique_ptr<WatchedPortalDesktop> desktop;
    QString paletteFile;
    std::unique_ptr<ColorPicker> form;
};

using Outcome = DesktopPlatform::ColorPick::Outcome;
constexpr ColorValue White = 0x00FFFFFF;

TEST_F(PortalPick, ThePickedColourFillsTheCellAsASampledPixelDoesAndACancelChangesNothing)
{
    startPortal();
    form->show();
    const QString help = form->lbl_Help->text();
    EXPECT_NE(help, language().text("C_CannotReadScreen"));

    portal->rgb[0] = 18 / 255.0;
    portal->rgb[1] = 52 / 255.0;
    portal->rgb[2] = 86 / 255.0;
    pickInto(4);
    EXPECT_EQ(desktop->outcomes, QList<Outcome>({Outcome::Picked}));
    EXPECT_EQ(form->SelectedCell(), cell(4));
    EXPECT_EQ(cell(4)->color(), MakeColor(18, 52, 86));
    EXPECT_EQ(form->edt_ColorHex->text(), "#123456");
    EXPECT_EQ(form->edt_Red->text(), "18");
    EXPECT_FALSE(form->Capturing()); // the desktop's picker holds the pointer, not this one

    // The user closes the desktop's picker: the next cell keeps its colour.
    portal->code = 1;
    portal->rgb[0] = 0;
    pickInto(7);
    EXPECT_EQ(desktop->outcomes.last(), Outcome::Cancelled);
    EXPECT_EQ(form->SelectedCell(), cell(7));
    EXPECT_EQ(cell(7)->color(), White);
    EXPECT_EQ(form->lbl_Help->text(), help);

    // A pick that ended otherwise changes no cell either, and says the screen cannot be read.
    portal->code = 2;
    pickInto(7);
    EXPECT_EQ(desktop->outcomes.last(), Outcome::Failed);
    EXPECT_EQ(cell(7)->color(), White);
    EXPECT_EQ(form->lbl_Help->text(), language().text("C_CannotReadScreen"));
    EXPECT_EQ(portal->tokens.size(), 3);
    EXPECT_EQ(QSet<QString>(portal->tokens.begin(), portal->tokens.end()).size(), 3);
}

TEST_F(PortalPick, WithoutAPortalOnTheBusThePickerSaysSoAndAsksNothing)
{
    form->show();
    EXPECT_EQ(form->lbl_Help->text(), language().text("C_CannotReadScreen"));
    Press(cell(2));
    EXPECT_EQ(form->SelectedCell(), cell(2));
    EXPECT_TRUE(desktop->outcomes.isEmpty());
}

} // namespace

#include "test_portal_pick.moc"
