#include "AppContext.h"

#include "Errors.h"

AppContext::AppContext(const Paths& paths, DesktopPlatform& desktop, ShellOpener& shell)
    : m_paths(paths), m_desktop(desktop), m_shell(shell), m_language(paths.programDir),
      m_prompts(m_language)
{}

void AppContext::LoadSettings(const QString& home, const QLocale& locale)
{
    const Settings config = settings();
    if (!config.exists()) {
        try {
            CreateDefaultCollection(m_paths, home);
            if (const QString suited = LanguageForLocale(m_language.languages(), locale);
                !suited.isEmpty())
                config.setLanguage(suited);
        } catch (const IniWriteError&) {
            m_collectionNotice = ReadCollectionDir(m_paths, home);
            throw;
        }
    }
    m_collectionNotice = ReadCollectionDir(m_paths, home);
    m_language.setLanguage(config.language());
}
