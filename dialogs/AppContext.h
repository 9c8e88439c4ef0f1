#pragma once

#include "Desktop.h"
#include "LanguageCatalogue.h"
#include "Paths.h"
#include "Prompts.h"
#include "Settings.h"
#include "ShellOpen.h"

#include <QLocale>
#include <QTranslator>
#include <memory>

// What every window shares, made once at start-up and handed to each window: the folders,
// Config.ini, the language catalogue, the desktop, opening files and addresses, and the prompts.
// Tests make one in a temporary folder with a desktop and a shell of their own.
class AppContext
{
public:
    AppContext(const Paths& paths, DesktopPlatform& desktop, ShellOpener& shell);
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    Paths& paths() { return m_paths; }
    const Paths& paths() const { return m_paths; }
    Settings settings() const { return Settings(m_paths.configFile()); }
    LanguageCatalogue& language() { return m_language; }
    const LanguageCatalogue& language() const { return m_language; }
    DesktopPlatform& desktop() { return m_desktop; }
    ShellOpener& shell() { return m_shell; }
    Prompts& prompts() { return m_prompts; }

    // Start-up: on the first run the collection and Config.ini are made in home, with the
    // language that suits the locale when the program offers one (else English); then the
    // collection root and the language are read. Throws IniWriteError when the first run cannot
    // write Config.ini (the collection root is still read).
    void LoadSettings(const QString& home, const QLocale& locale = QLocale::system());
    // Why the collection is not where Config.ini says, when it is not; else empty.
    const QString& collectionNotice() const { return m_collectionNotice; }
    // Whether Qt's own texts (message box buttons, file dialogs) are shown in the current
    // language: true for English, and where the system holds Qt's translation for it.
    bool qtTranslated() const { return m_qtTranslated; }

private:
    // Qt's own dialogs follow the language catalogue: its translation is swapped on each change.
    void FollowLanguageInQt();

    Paths m_paths;
    QString m_collectionNotice;
    DesktopPlatform& m_desktop;
    ShellOpener& m_shell;
    LanguageCatalogue m_language;
    Prompts m_prompts;
    std::unique_ptr<QTranslator> m_qtTranslator;
    bool m_qtTranslated = true;
};
