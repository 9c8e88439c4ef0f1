#include "Registry.h"

#include "AtomicFile.h"
#include "IniFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

bool isBlank(QChar c)
{
    return IniFile::IsBlank(c);
}

QStringView trimmedBlanks(QStringView s)
{
    return IniFile::TrimBlanks(s);
}

// "\SOFTWARE\Vendor\Key\" and "SOFTWARE\Vendor\Key" name the same key.
QString normalizedKey(const QString& path)
{
    qsizetype b = 0, e = path.size();
    while (b < e && (path[b] == u'\\' || isBlank(path[b])))
        ++b;
    while (e > b && (path[e - 1] == u'\\' || isBlank(path[e - 1])))
        --e;
    return path.mid(b, e - b);
}

// A key path that a section header can hold.
bool usableKey(const QString& key)
{
    return !key.isEmpty() && !key.contains(u'\n') && !key.contains(u'\r');
}

// A value name that a "name=data" line can hold.
bool usableName(const QString& name)
{
    return !name.contains(u'=') && !name.contains(u'\n') && !name.contains(u'\r') &&
           trimmedBlanks(name).size() == name.size() && !name.startsWith(u'[') &&
           !name.startsWith(u';');
}

bool sameKey(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Whether key is parent itself or lies below it.
bool withinKey(const QString& key, const QString& parent)
{
    return sameKey(key, parent) || (key.size() > parent.size() && key[parent.size()] == u'\\' &&
                                    sameKey(QStringView(key).left(parent.size()), parent));
}

QString encodeData(const QString& data)
{
    const bool plain = !data.contains(u'\n') && !data.contains(u'\r') &&
                       (data.isEmpty() ||
                        (!isBlank(data.front()) && !isBlank(data.back()) && data.front() != u'"'));
    if (plain)
        return data;
    QString out = QStringLiteral("\"");
    for (QChar c : data) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'"')
            out += QStringLiteral("\\\"");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    out += u'"';
    return out;
}

QString decodeData(QStringView raw)
{
    const QStringView t = trimmedBlanks(raw);
    if (t.size() < 2 || t.front() != u'"' || t.back() != u'"')
        return t.toString();
    const QStringView inner = t.mid(1, t.size() - 2);
    QString out;
    for (qsizetype i = 0; i < inner.size(); ++i) {
        QChar c = inner[i];
        if (c == u'\\' && i + 1 < inner.size()) {
            const QChar n = inner[++i];
            c = n == u'n' ? QChar(u'\n') : n == u'r' ? QChar(u'\r') : n;
        }
        out += c;
    }
    return out;
}

// The lines of registry.ini, with the few edits the registry's operations make.
class Document
{
public:
    // False when the file exists but cannot be read; a missing file is an empty document.
    bool load(const QString& file)
    {
        m_lines.clear();
        QFile f(file);
        if (!f.exists())
            return true;
        if (!f.open(QIODevice::ReadOnly))
            return false;
        QByteArray bytes = f.readAll();
        if (bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        m_lines = QString::fromUtf8(bytes).split(u'\n');
        for (QString& l : m_lines)
            if (l.endsWith(u'\r'))
                l.chop(1);
        if (!m_lines.isEmpty() && m_lines.last().isEmpty())
            m_lines.removeLast();
        return true;
    }

    bool save(const QString& file) const
    {
        QByteArray out;
        for (const QString& l : m_lines) {
            out += l.toUtf8();
            out += "\r\n";
        }
        return WriteFileAtomically(file, out);
    }

    // The key path of a "[path]" line, or a null string when the line is no section header.
    static QString sectionOf(const QString& line)
    {
        const QStringView t = trimmedBlanks(line);
        if (t.size() < 2 || t.front() != u'[' || t.back() != u']')
            return QString();
        return normalizedKey(t.mid(1, t.size() - 2).toString());
    }

    // Index of the first header of the key, or -1.
    qsizetype findSection(const QString& key) const
    {
        for (qsizetype i = 0; i < m_lines.size(); ++i) {
            const QString name = sectionOf(m_lines[i]);
            if (!name.isNull() && sameKey(name, key))
                return i;
        }
        return -1;
    }

    // One past the last line of the section whose header is at index header.
    qsizetype sectionEnd(qsizetype header) const
    {
        qsizetype i = header + 1;
        while (i < m_lines.size() && sectionOf(m_lines[i]).isNull())
            ++i;
        return i;
    }

    bool hasKeyOrSubkey(const QString& key) const
    {
        for (const QString& line : m_lines) {
            const QString name = sectionOf(line);
            if (!name.isNull() && withinKey(name, key))
                return true;
        }
        return false;
    }

    qsizetype addSection(const QString& key)
    {
        if (!m_lines.isEmpty() && !trimmedBlanks(m_lines.last()).isEmpty())
            m_lines.append(QString());
        m_lines.append(u'[' + key + u']');
        return m_lines.size() - 1;
    }

    // Index of the value's line inside the section at header, or -1.
    qsizetype findValue(qsizetype header, const QString& name) const
    {
        const qsizetype end = sectionEnd(header);
        for (qsizetype i = header + 1; i < end; ++i) {
            const qsizetype eq = m_lines[i].indexOf(u'=');
            if (eq >= 0 && trimmedBlanks(QStringView(m_lines[i]).left(eq))
                                   .compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    }

    QString valueData(qsizetype line) const
    {
        return decodeData(QStringView(m_lines[line]).mid(m_lines[line].indexOf(u'=') + 1));
    }

    void setValue(qsizetype header, const QString& name, const QString& data)
    {
        const QString line = name + u'=' + encodeData(data);
        const qsizetype at = findValue(header, name);
        if (at >= 0) {
            m_lines[at] = line;
            return;
        }
        // New values go after the section's last non-blank line, so their order is kept.
        qsizetype insertAt = header + 1;
        for (qsizetype i = header + 1; i < sectionEnd(header); ++i)
            if (!trimmedBlanks(m_lines[i]).isEmpty())
                insertAt = i + 1;
        m_lines.insert(insertAt, line);
    }

    bool removeValue(qsizetype header, const QString& name)
    {
        bool removed = false;
        for (qsizetype at = findValue(header, name); at >= 0; at = findValue(header, name)) {
            m_lines.removeAt(at);
            removed = true;
        }
        return removed;
    }

    // Removes every section of the key and of its subkeys; true when anything went.
    bool removeKey(const QString& key)
    {
        bool removed = false;
        qsizetype i = 0;
        while (i < m_lines.size()) {
            const QString name = sectionOf(m_lines[i]);
            if (!name.isNull() && withinKey(name, key)) {
                m_lines.remove(i, sectionEnd(i) - i);
                removed = true;
            } else {
                ++i;
            }
        }
        return removed;
    }

private:
    QStringList m_lines;
};

bool canReplace(const QString& file)
{
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    // The file is replaced by renaming a new one over it, so its folder must take new files.
    if (!folder.isDir() || !folder.isWritable())
        return false;
    if (!info.exists() && !info.isSymLink())
        return true;
    return info.isFile() && info.isReadable() && info.isWritable();
}

} // namespace

// ---- RegistryKey ---------------------------------------------------------------------------

QString RegistryKey::ReadString(const QString& name) const
{
    if (!m_open)
        return QString();
    Document doc;
    if (!doc.load(m_file))
        return QString();
    const qsizetype header = doc.findSection(m_path);
    if (header < 0)
        return QString();
    const qsizetype line = doc.findValue(header, name);
    return line < 0 ? QString() : doc.valueData(line);
}

bool RegistryKey::WriteString(const QString& name, const QString& data)
{
    if (!m_open || !usableName(name) || !canReplace(m_file))
        return false;
    Document doc;
    if (!doc.load(m_file))
        return false;
    qsizetype header = doc.findSection(m_path);
    if (header < 0)
        header = doc.addSection(m_path); // a system key, or one deleted since it was opened
    doc.setValue(header, name, data);
    return doc.save(m_file);
}

bool RegistryKey::DeleteValue(const QString& name)
{
    if (!m_open || !canReplace(m_file))
        return false;
    Document doc;
    if (!doc.load(m_file))
        return false;
    const qsizetype header = doc.findSection(m_path);
    if (header < 0 || !doc.removeValue(header, name))
        return true;
    return doc.save(m_file);
}

// ---- Registry ------------------------------------------------------------------------------

Registry::Registry(const QString& file, const QStringList& systemKeys) : m_file(file)
{
    for (const QString& key : systemKeys)
        m_systemKeys << normalizedKey(key);
}

QString Registry::FileIn(const QString& programDir)
{
    return programDir + QStringLiteral("registry.ini");
}

const QStringList& Registry::SystemKeys()
{
    static const QStringList keys = {
        QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"),
    };
    return keys;
}

bool Registry::writable() const
{
    return canReplace(m_file);
}

RegistryKey Registry::OpenKey(const QString& path, bool create) const
{
    RegistryKey key;
    const QString name = normalizedKey(path);
    if (!usableKey(name) || !canReplace(m_file))
        return key;
    Document doc;
    if (!doc.load(m_file))
        return key;

    bool exists = doc.hasKeyOrSubkey(name);
    for (const QString& system : m_systemKeys)
        exists = exists || withinKey(system, name);
    if (!exists) {
        if (!create)
            return key;
        doc.addSection(name);
        if (!doc.save(m_file))
            return key;
    }
    key.m_file = m_file;
    key.m_path = name;
    key.m_open = true;
    return key;
}

bool Registry::DeleteKey(const QString& path) const
{
    const QString name = normalizedKey(path);
    if (!usableKey(name) || !canReplace(m_file))
        return false;
    Document doc;
    if (!doc.load(m_file))
        return false;
    if (!doc.removeKey(name))
        return true;
    return doc.save(m_file);
}
