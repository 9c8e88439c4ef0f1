#include "BrowserProfiles.h"

#include <QDir>
#include <QFile>

namespace BrowserProfiles {

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QStringList folderNames()
{
    return {QStringLiteral("nimbril/browser-profile"), QStringLiteral("chromium"),
            QStringLiteral("google-chrome"),           QStringLiteral("google-chrome-beta"),
            QStringLiteral("google-chrome-unstable"),  QStringLiteral("chromium-browser")};
}

QStringList defaultFolders(const QString& configHome)
{
    QStringList folders;
    for (const QString& name : folderNames())
        folders << configHome + u'/' + name;
    return folders;
}

std::optional<Cdp::ActivePort> activePort(const QString& profileFolder)
{
    QFile file(profileFolder + QStringLiteral("/DevToolsActivePort"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return Cdp::parseActivePort(QString::fromUtf8(file.read(4096)));
}

} // namespace BrowserProfiles
