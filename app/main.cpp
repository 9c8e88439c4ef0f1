// Program entry: one instance per user, the floating window with its tray icon and menu, and the
// message loop until Exit.
#include "ChromiumBrowser.h"
#include "Desktop.h"
#include "Errors.h"
#include "MessageBox.h"
#include "SingleInstance.h"
#include "u_EMail.h"
#include "u_Main.h"
#include "u_SaveColor.h"
#include "u_Setup.h"
#include "u_Store.h"
#include "u_ViewCollection.h"

#include <QApplication>
#include <unistd.h>

int main(int argc, char* argv[])
{
#ifdef NIMBRIL_HAVE_WEBENGINE
    // The viewer's web preview: its sandbox cannot run as root, and it shares OpenGL contexts.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nimbril"));
    QApplication::setApplicationDisplayName(QStringLiteral("Nimbril"));
    QApplication::setApplicationVersion(QStringLiteral(NIMBRIL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/nimbril/nimbril.svg")));
    // Hidden windows and closed dialogs do not end the program; Exit does.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(QStringLiteral("Nimbril"));
    if (!instance.tryAcquire())
        return 0; // another Nimbril runs: end silently

    AppDir = ExecutableDir();
    FavoritesDir = GetFavoritesDir();

    // The browser is reached when a command first needs it, and the connection is kept.
    ChromiumBrowser browser;
    browser.setWindowSystem({[] { return Desktop().topmostWindowCaption(BrowserWindowClasses()); },
                             [] { return Desktop().closeWindows(BrowserWindowClasses()); }});

    TForm_Main form;
    form.browser = &browser;
    try {
        form.FormCreate();
    } catch (const NimbrilError& e) {
        // Config.ini could not be written: say so, and still offer the window and its menu.
        MessageBox::Error(nullptr, e.text());
        ReadCollectionDir();
        form.SetDefaultPosition();
        form.AddTrayIcon();
    }
    // After an e-mail capture the addresses are shown for saving and merging.
    form.showEMails = [](const QStringList& emails) { ShowEMailDialog(nullptr, emails); };

    // The colour picker is made for one use, owned by the floating window, which it hides.
    form.showColorPicker = [&form] {
        form.hide();
        TForm_SaveColor picker(&form);
        picker.exec();
    };

    // The windows that live for the whole run.
    TForm_ViewStashet viewer(&form);
    viewer.openPalette = [](QWidget* owner, const QString& path, QString* ioError) {
        // A palette opened from the viewer gets a picker of its own, owned by the viewer.
        auto* picker = new TForm_SaveColor(owner);
        if (!picker->LoadPaletteFile(path, ioError)) {
            delete picker;
            return false;
        }
        picker->show();
        return true;
    };
    form.showViewer = [&viewer] { viewer.ShowViewer(); };
    form.restoreViewer = [&viewer] { viewer.RestoreStep(); };
    TForm_Setup setup;
    form.showSetup = [&setup] { setup.ShowModalSetup(); };

    form.show();
    return app.exec();
}
