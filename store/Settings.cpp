#include "Settings.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kCollectionSection = QStringLiteral("CollectionDir");
const QString kPathKey = QStringLiteral("Path");
const QString kLanguageSection = QStringLiteral("Language");
const QString kLanguageKey = QStringLiteral("DefaultLanguage");
const QString kWebPageSection = QStringLiteral("WebPage");
const QString kClassicKey = QStringLiteral("Classic");
const QString kKeepScriptsKey = QStringLiteral("KeepScripts");
} // namespace

Settings::Settings(const QString& configFile) : m_file(configFile) {}

bool Settings::exists() const
{
    return QFileInfo::exists(m_file);
}

QString Settings::collectionDir() const
{
    return IniFile::ReadString(m_file, kCollectionSection, kPathKey);
}

QString Settings::language() const
{
    return IniFile::ReadString(m_file, kLanguageSection, kLanguageKey);
}

void Settings::setLanguage(const QString& language) const
{
    IniFile::WriteString(m_file, kLanguageSection, kLanguageKey, language);
}

bool Settings::classicPages() const
{
    return IniFile::ReadString(m_file, kWebPageSection, kClassicKey) == QLatin1String("1");
}

void Settings::setClassicPages(bool classic) const
{
    IniFile::WriteString(m_file, kWebPageSection, kClassicKey,
                         classic ? QStringLiteral("1") : QStringLiteral("0"));
}

bool Settings::keepScripts() const
{
    return IniFile::ReadString(m_file, kWebPageSection, kKeepScriptsKey) == QLatin1String("1");
}

void Settings::setKeepScripts(bool keep) const
{
    IniFile::WriteString(m_file, kWebPageSection, kKeepScriptsKey,
                         keep ? QStringLiteral("1") : QStringLiteral("0"));
}

void CreateDefaultCollection(Paths& paths, const QString& home)
{
    const QString root = home + QStringLiteral("/NimbrilApp");
    QDir().mkpath(root);
    for (const QString& sub : CollectionSubfolders())
        QDir().mkpath(root + u'/' + sub);
    const QString config = paths.configFile();
    IniFile::WriteString(config, kCollectionSection, kPathKey, root);
    IniFile::WriteString(config, kLanguageSection, kLanguageKey, QStringLiteral("English"));
    paths.collectionRoot = root + u'/';
}

QString ReadCollectionDir(Paths& paths, const QString& home)
{
    const QString stored = Settings(paths.configFile()).collectionDir();
    QString why;
    if (stored.isEmpty())
        why = QStringLiteral("Config.ini names no collection folder");
    else if (!QDir::isAbsolutePath(stored))
        why = QStringLiteral("\"%1\" in Config.ini is not a full path").arg(stored);
    else if (QDir::cleanPath(stored) == QLatin1String("/"))
        why = QStringLiteral("\"%1\" in Config.ini is the root of the file system").arg(stored);
    else if (!QFileInfo(stored).isDir())
        why = QStringLiteral("there is no folder \"%1\"").arg(stored);
    if (why.isEmpty()) {
        paths.collectionRoot = stored + u'/';
        return QString();
    }
    // Nothing is ever collected into the root or the current folder by mistake; Config.ini
    // stays as the user left it.
    const QString root = home + QStringLiteral("/NimbrilApp");
    for (const QString& sub : CollectionSubfolders())
        QDir().mkpath(root + u'/' + sub);
    paths.collectionRoot = root + u'/';
    return QStringLiteral("%1, so Nimbril collects into %2 for now.").arg(why, root);
}
