#include "FolderBrowserCache.h"

#include <QDir>
#include <QFile>

FolderBrowserCache::FolderBrowserCache(const QString& folder) : m_folder(folder)
{
    QDir().mkpath(folder);
}

QString FolderBrowserCache::add(const QString& url, const QByteArray& bytes,
                                const QString& fileName)
{
    QString name = fileName;
    if (name.isEmpty()) {
        name = url.mid(url.lastIndexOf(u'/') + 1);
        name = name.left(name.indexOf(u'?') < 0 ? name.size() : name.indexOf(u'?'));
        if (name.isEmpty())
            name = QStringLiteral("index");
    }
    const QString path = QDir(m_folder).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    m_files.insert(url, path);
    return path;
}

QString FolderBrowserCache::localFile(const QString& url)
{
    ++m_lookups;
    return m_files.value(url);
}
