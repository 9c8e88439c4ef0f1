#include "Settings.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kCollectionSection = QStringLiteral("CollectionDir");
const QString kPathKey = QStringLiteral("Path");
const QString kLanguageSection = QStringLiteral("Language");
const QString kLanguageKey = QStringLiteral("DefaultLanguage");
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

void ReadCollectionDir(Paths& paths)
{
    paths.collectionRoot = Settings(paths.configFile()).collectionDir() + u'/';
}
