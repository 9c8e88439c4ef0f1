#include "ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

void ShellOpener::open(const QString& target)
{
    const bool isPath = target.startsWith(u'/') || QFileInfo::exists(target);
    QDesktopServices::openUrl(isPath ? QUrl::fromLocalFile(target) : QUrl(target));
}
