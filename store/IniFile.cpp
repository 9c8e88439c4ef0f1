#include "IniFile.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

// Settings, language and shortcut files hold a few kilobytes; nothing real comes near this.
constexpr qint64 kMaxIniBytes = 4 * 1024 * 1024;

using IniFile::TrimBlanks;

QStringView trimmedBlanks(QStringView s)
{
    return TrimBlanks(s);
}

// The section name of a "[name]" line, or a null view when the line is no section header.
QStringView sectionName(QStringView line)
{
    const QStringView t = trimmedBlanks(line);
    if (t.isEmpty() || t[0] != u'[')
        return {};
    const qsizetype close = t.indexOf(u']');
    const QStringView name = close < 0 ? t.mid(1) : t.mid(1, close - 1);
    return trimmedBlanks(name);
}

bool keyMatches(QStringView line, QStringView key, QStringView* value)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return false;
    if (trimmedBlanks(line.left(eq)).compare(key, Qt::CaseInsensitive) != 0)
        return false;
    if (value)
        *value = line.mid(eq + 1);
    return true;
}

QString cleanValue(QStringView raw)
{
    QStringView v = trimmedBlanks(raw);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    if (v.size() > IniFile::MaxValueLength) {
        qsizetype n = IniFile::MaxValueLength;
        if (v[n - 1].isHighSurrogate())
            --n; // never cut inside a character
        v = v.left(n);
    }
    return v.toString();
}

QStringList splitLines(const QString& text)
{
    QStringList lines = text.split(u'\n');
    for (QString& l : lines)
        if (l.endsWith(u'\r'))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // the final line break ends the last line, it starts none
    return lines;
}

QString decode(const QByteArray& bytes)
{
    QByteArrayView v(bytes);
    if (v.startsWith("\xEF\xBB\xBF"))
        v = v.sliced(3);
    return QString::fromUtf8(v);
}

} // namespace

namespace IniFile {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView TrimBlanks(QStringView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

QString ReadStringFromText(const QString& text, const QString& section, const QString& key,
                           const QString& defaultValue)
{
    bool inSection = false;
    bool sectionSeen = false;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView name = sectionName(line);
        if (!name.isNull()) {
            if (sectionSeen && inSection)
                break; // only the first section of a name counts
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        QStringView value;
        if (inSection && keyMatches(line, key, &value))
            return cleanValue(value);
    }
    return defaultValue;
}

QString ReadText(const QString& path)
{
    const std::optional<QByteArray> bytes = ReadRegularFile(path, kMaxIniBytes);
    if (!bytes)
        return QString();
    QString text = decode(*bytes);
    if (text.isNull())
        text = QStringLiteral(""); // an empty file is read, not missing
    return text;
}

QString ReadString(const QString& path, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    const QString text = ReadText(path);
    if (text.isNull())
        return defaultValue;
    return ReadStringFromText(text, section, key, defaultValue);
}

void WriteString(const QString& path, const QString& section, const QString& key,
                 const QString& value)
{
    QStringList lines;
    QFile existing(path);
    if (existing.exists()) {
        // A read-only file stays as the user protected it; rewriting a file we cannot read
        // would lose its lines.
        const std::optional<QByteArray> bytes =
            QFileInfo(path).isWritable() ? ReadRegularFile(path, kMaxIniBytes) : std::nullopt;
        if (!bytes)
            throw IniWriteError(path);
        lines = splitLines(decode(*bytes));
    }

    QString clean = value;
    clean.remove(u'\r');
    clean.remove(u'\n');
    const QString newLine = key + u'=' + clean;

    qsizetype sectionStart = -1; // index of the header line
    qsizetype sectionEnd = -1;   // one past the last non-blank line of the section
    qsizetype keyLine = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView name = sectionName(lines[i]);
        if (!name.isNull()) {
            if (sectionStart >= 0)
                break;
            if (name.compare(section, Qt::CaseInsensitive) == 0) {
                sectionStart = i;
                sectionEnd = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        if (!trimmedBlanks(lines[i]).isEmpty())
            sectionEnd = i + 1;
        if (keyLine < 0 && keyMatches(lines[i], key, nullptr))
            keyLine = i;
    }

    if (keyLine >= 0) {
        lines[keyLine] = newLine;
    } else if (sectionStart >= 0) {
        lines.insert(sectionEnd, newLine);
    } else {
        if (!lines.isEmpty() && !trimmedBlanks(lines.last()).isEmpty())
            lines.append(QString());
        lines.append(u'[' + section + u']');
        lines.append(newLine);
    }

    QByteArray out;
    for (const QString& l : lines) {
        out += l.toUtf8();
        out += "\r\n";
    }

    if (!WriteFileAtomically(path, out))
        throw IniWriteError(path);
}

} // namespace IniFile
