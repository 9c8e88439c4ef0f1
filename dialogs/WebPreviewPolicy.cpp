#include "WebPreviewPolicy.h"

#include <unistd.h>

bool PreviewMayLoad(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("file") || scheme == QLatin1String("data") ||
           scheme == QLatin1String("blob");
}

QByteArray PreviewEngineFlags(const QByteArray& given)
{
    // Port 9 on loopback (discard) refuses; "<-loopback>" sends loopback through it too.
    const QByteArray proxy = "--proxy-server=127.0.0.1:9 --proxy-bypass-list=<-loopback>";
    return given.trimmed().isEmpty() ? proxy : proxy + ' ' + given.trimmed();
}

bool PreviewNeedsSandboxOff()
{
    return ::geteuid() == 0;
}
