#include "AppContext.h"

#include "Errors.h"

#include <QCoreApplication>
#include <QLibraryInfo>

AppContext::AppContext(const Paths& paths, DesktopPlatform& desktop, ShellOpener& shell)
    : m_paths(paths), m_desktop(desktop), m_shell(shell), m_language(paths.programDir),
      m_prompts(m_language)
{
    QObject::connect(&m_language, &LanguageCatalogue::changed, &m_language,
                     [this] { FollowLanguageInQt(); });
}

void AppContext::FollowLanguageInQt()
{
    if (m_qtTranslator) {
        QCoreApplication::removeTranslator(m_qtTranslator.get());
        m_qtTranslator.reset();
    }
    const QString name = QtTranslationName(m_language.language());
    m_qtTranslated = name.isEmpty();
    if (name.isEmpty())
        return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    QCoreApplication::installTranslator(translator.get());
    m_qtTranslator = std::move(translator);
    m_qtTranslated = true;
}

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
