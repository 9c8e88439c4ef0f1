#include "Autostart.h"

#include "AtomicFile.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString kGroup = QStringLiteral("[Desktop Entry]");

// The format's string escapes (\s, \n, \t, \r, \\) undone.
QString unescapeString(QStringView value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        QChar c = value[i];
        if (c == u'\\' && i + 1 < value.size()) {
            const QChar n = value[++i];
            c = n == u's'   ? QChar(u' ')
                : n == u'n' ? QChar(u'\n')
                : n == u't' ? QChar(u'\t')
                : n == u'r' ? QChar(u'\r')
                            : n;
        }
        out += c;
    }
    return out;
}

// The raw values of the keys of the entry's main group, as they stand in the file.
QString readKey(const QString& text, const QString& key)
{
    bool inGroup = false;
    for (QStringView line : QStringView(text).tokenize(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView t = line.trimmed();
        if (t.startsWith(u'[')) {
            inGroup = t == kGroup;
            continue;
        }
        if (!inGroup || t.startsWith(u'#'))
            continue;
        const qsizetype eq = t.indexOf(u'=');
        if (eq > 0 && t.left(eq).trimmed() == key)
            return t.mid(eq + 1).trimmed().toString();
    }
    return QString();
}

// A value as the format's string escapes write it, on one line.
QString escapeString(const QString& value)
{
    QString out;
    for (QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

QString execLine(const QString& program, const QStringList& arguments)
{
    QString line = QuoteExecArgument(program);
    for (const QString& argument : arguments)
        line += u' ' + QuoteExecArgument(argument);
    return line;
}

QString dataHome()
{
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    return !data.isEmpty() && QDir::isAbsolutePath(data)
               ? data
               : UserHomeDir() + QStringLiteral("/.local/share");
}

} // namespace

AutostartEntry::AutostartEntry(const QString& folder)
    : m_folder(folder.isEmpty() ? DefaultFolder() : folder)
{}

QString AutostartEntry::DefaultFolder()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    const QString base = !config.isEmpty() && QDir::isAbsolutePath(config)
                             ? config
                             : UserHomeDir() + QStringLiteral("/.config");
    return base + QStringLiteral("/autostart");
}

QString AutostartEntry::file() const
{
    return m_folder + QStringLiteral("/nimbril.desktop");
}

QByteArray AutostartEntry::EntryText(const QString& executable)
{
    const QString text = kGroup +
                         QStringLiteral("\n"
                                        "Type=Application\n"
                                        "Name=Nimbril\n"
                                        "Comment=Starts Nimbril when you log in\n"
                                        "Exec=") +
                         QuoteExecArgument(executable) +
                         QStringLiteral("\n"
                                        "Icon=nimbril\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

bool AutostartEntry::Enable(const QString& executable) const
{
    if (!QDir().mkpath(m_folder))
        return false;
    return WriteFileAtomically(file(), EntryText(executable));
}

bool AutostartEntry::Disable() const
{
    QFile::remove(file());
    return !QFileInfo::exists(file());
}

bool AutostartEntry::StartsProgram(const QString& executable) const
{
    QFile f(file());
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(f.readAll());
    if (readKey(text, QStringLiteral("Hidden")).compare(u"true", Qt::CaseInsensitive) == 0)
        return false;
    if (readKey(text, QStringLiteral("X-GNOME-Autostart-enabled"))
            .compare(u"false", Qt::CaseInsensitive) == 0)
        return false;
    return !executable.isEmpty() &&
           ExecProgram(readKey(text, QStringLiteral("Exec"))) == executable;
}

QString QuoteExecArgument(const QString& argument)
{
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';

    // The string escapes apply on top of the quoting, so a backslash the quoting added is
    // doubled too.
    QString out;
    for (QChar c : quoted) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString ExecProgram(const QString& execValue)
{
    const QString value = unescapeString(execValue);
    qsizetype i = 0;
    while (i < value.size() && (value[i] == u' ' || value[i] == u'\t'))
        ++i;
    QString program;
    if (i < value.size() && value[i] == u'"') {
        for (++i; i < value.size() && value[i] != u'"'; ++i) {
            if (value[i] == u'\\' && i + 1 < value.size())
                ++i;
            program += value[i];
        }
        if (i >= value.size())
            return QString(); // no closing quote: not a valid command line
    } else {
        for (; i < value.size() && value[i] != u' ' && value[i] != u'\t'; ++i)
            program += value[i];
    }
    program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    return program;
}

CaptureLauncher::CaptureLauncher(const QString& folder)
    : m_folder(folder.isEmpty() ? DefaultFolder() : folder)
{}

QString CaptureLauncher::DefaultFolder()
{
    return dataHome() + QStringLiteral("/applications");
}

QString CaptureLauncher::file() const
{
    return m_folder + QStringLiteral("/nimbril-capture.desktop");
}

QByteArray CaptureLauncher::EntryText(const QString& captureProgram, const QString& name,
                                      const QList<LauncherAction>& actions)
{
    QStringList ids;
    for (const LauncherAction& action : actions)
        ids << action.id;
    QString text = kGroup + QStringLiteral("\nType=Application\nName=") + escapeString(name) +
                   QStringLiteral("\nExec=") +
                   execLine(captureProgram, actions.value(0).arguments) +
                   QStringLiteral("\nIcon=nimbril\nTerminal=false\nCategories=Network;Utility;"
                                  "\nActions=") +
                   ids.join(u';') + QStringLiteral(";\n");
    for (const LauncherAction& action : actions)
        text += QStringLiteral("\n[Desktop Action ") + action.id + QStringLiteral("]\nName=") +
                escapeString(action.name) + QStringLiteral("\nExec=") +
                execLine(captureProgram, action.arguments) + u'\n';
    return text.toUtf8();
}

bool CaptureLauncher::Install(const QString& captureProgram, const QString& name,
                              const QList<LauncherAction>& actions) const
{
    if (actions.isEmpty() || !QDir().mkpath(m_folder))
        return false;
    return WriteFileAtomically(file(), EntryText(captureProgram, name, actions));
}

bool CaptureLauncher::Remove() const
{
    QFile::remove(file());
    return !QFileInfo::exists(file());
}

bool CaptureLauncher::Installed() const
{
    return QFileInfo(file()).isFile();
}
