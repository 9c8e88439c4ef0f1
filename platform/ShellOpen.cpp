#include "ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {
std::function<void(const QString&)>& Handler()
{
    static std::function<void(const QString&)> handler;
    return handler;
}
} // namespace

void ShellOpen(const QString& target)
{
    if (Handler()) {
        Handler()(target);
        return;
    }
    const bool isPath = target.startsWith(u'/') || QFileInfo::exists(target);
    QDesktopServices::openUrl(isPath ? QUrl::fromLocalFile(target) : QUrl(target));
}

void SetShellOpenHandler(std::function<void(const QString& target)> handler)
{
    Handler() = std::move(handler);
}
