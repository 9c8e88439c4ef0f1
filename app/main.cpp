// Program entry: one instance per user, the application context, the floating window with its
// tray icon and menu, and the message loop until Exit.
#include "AppContext.h"
#include "ChromiumBrowser.h"
#include "CollectionViewer.h"
#include "ColorPicker.h"
#include "EMailDialog.h"
#include "Errors.h"
#include "FloatingWindow.h"
#include "SetupDialog.h"
#include "SingleInstance.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    // Nothing here draws with OpenGL, but the X11 platform loads the system's OpenGL driver when
    // it starts (with Mesa's software one, LLVM: about a second and 57 MB resident on a small
    // machine). Without it the viewer's web preview draws in software. A user's own setting
    // stays, and the programs Nimbril opens do not inherit ours.
    const bool chooseGl = !qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION");
    if (chooseGl)
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    if (chooseGl)
        qunsetenv("QT_XCB_GL_INTEGRATION");
    QApplication::setApplicationName(QStringLiteral("Nimbril"));
    QApplication::setApplicationDisplayName(QStringLiteral("Nimbril"));
    QApplication::setApplicationVersion(QStringLiteral(NIMBRIL_VERSION));
    // Hidden windows and closed dialogs do not end the program; Exit does.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(QStringLiteral("Nimbril"));
    if (!instance.tryAcquire()) {
        // Another Nimbril runs, perhaps hidden: it shows its window again, and this start ends.
        if (!instance.wakeRunning()) {
            // Only read here: the running program owns Config.ini.
            const Paths paths = Paths::ForProgram(ExecutableDir(), UserHomeDir());
            LanguageCatalogue words(paths.programDir);
            words.setLanguage(Settings(paths.configFile()).language());
            fprintf(stderr, "%s\n",
                    qPrintable(words
                                   .text(QStringLiteral("C_AlreadyRunning"),
                                         QStringLiteral("Nimbril is already running, but it did "
                                                        "not answer the request to show its "
                                                        "window. Lock: %1"))
                                   .arg(instance.lockPath())));
        }
        return 0;
    }

    // The tray icon comes first: the tray docks it while the windows are built. Nothing is
    // connected to it yet, and no event reaches it before the loop runs; the events handled here
    // are the window system's, which sends the request to dock it.
    QSystemTrayIcon* trayIcon = FloatingWindow::MakeTrayIcon();
    trayIcon->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    const std::unique_ptr<DesktopPlatform> desktop = ChooseDesktop();
    ShellOpener shell;
    AppContext context(Paths::ForProgram(ExecutableDir(), UserHomeDir()), *desktop, shell);

    // The browser is reached when a command first needs it, and the connection is kept.
    ChromiumBrowser browser;
    browser.setWindowSystem(
        {[&context] { return context.desktop().topmostWindowCaption(BrowserWindowClasses()); },
         [&context] { return context.desktop().closeWindows(BrowserWindowClasses()); }});

    // Every window's icon. X11 gets it rendered in four sizes (87 KB) for each window, twice as
    // a window is made: it comes once the loop runs, after the tray icon and the floating
    // window, unless a message is shown before.
    const auto useProgramIcon = [] {
        if (QApplication::windowIcon().isNull())
            QApplication::setWindowIcon(QIcon(QStringLiteral(":/nimbril/nimbril.svg")));
    };

    FloatingWindow form(context);
    form.browser = &browser;
    try {
        context.LoadSettings(UserHomeDir());
    } catch (const NimbrilError& e) {
        // Config.ini could not be written: say so, and still offer the window and its menu.
        useProgramIcon();
        context.prompts().error(nullptr, context.language().translate(e.message()));
    }
    for (const QString& notice :
         {context.collectionNotice(), context.language().conversionNotice()}) {
        if (notice.isEmpty())
            continue;
        useProgramIcon();
        context.prompts().warning(nullptr, notice);
    }
    form.FormCreate(trayIcon);
    // After an e-mail capture the addresses are shown for saving and merging.
    form.showEMails = [&context](const QStringList& emails) {
        ShowEMailDialog(context, nullptr, emails);
    };

    // The palette file "Save" writes to, shared by every colour picker of the run.
    QString currentPaletteFile;
    // The colour picker is made for one use, owned by the floating window.
    form.showColorPicker = [&] {
        ColorPicker picker(context, currentPaletteFile, &form);
        picker.exec();
    };

    // The viewer and the setup dialog live for the rest of the run once opened. They are built
    // when first asked for: a start shows neither, and the viewer's folder model, themed icons
    // and native window cost a start as much as everything else it does after Qt's own set-up.
    std::unique_ptr<CollectionViewer> viewer;
    form.showViewer = [&] {
        if (!viewer) {
            viewer = std::make_unique<CollectionViewer>(context, &form);
            viewer->openPalette = [&](QWidget* owner, const QString& path, QString* ioError) {
                // A palette opened from the viewer gets a picker of its own, owned by the viewer.
                auto* picker = new ColorPicker(context, currentPaletteFile, owner);
                if (!picker->LoadPaletteFile(path, ioError)) {
                    delete picker;
                    return false;
                }
                picker->show();
                return true;
            };
        }
        viewer->ShowViewer();
    };
    // A viewer never opened has nothing to restore.
    form.restoreViewer = [&viewer] {
        if (viewer)
            viewer->RestoreStep();
    };
    std::unique_ptr<SetupDialog> setup;
    form.showSetup = [&] {
        if (!setup)
            setup = std::make_unique<SetupDialog>(context);
        setup->ShowModalSetup();
    };

    // A later start of the program brings the windows back instead of starting a second one.
    if (!instance.listen([&form] { form.TrayLeftPress(); }))
        fprintf(stderr, "%s\n",
                qPrintable(context.language()
                               .text(QStringLiteral("C_CannotListen"),
                                     QStringLiteral("Nimbril: a later start will not be able to "
                                                    "bring this window back (%1 cannot be made)."))
                               .arg(instance.socketPath())));

    form.show();
    QTimer::singleShot(0, &app, useProgramIcon);
    return app.exec();
}
