#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The user's XDG autostart entry for Nimbril (nimbril.desktop in the autostart folder). On Linux
// a start-up value in the registry stand-in starts nothing by itself; this entry is what the
// desktop session reads at log-in, so it is written beside that value and is the truth about
// whether the program starts.
class AutostartEntry
{
public:
    // An empty folder means DefaultFolder(), looked up now.
    explicit AutostartEntry(const QString& folder = QString());

    // $XDG_CONFIG_HOME (when it is an absolute path) or ~/.config, followed by "/autostart".
    static QString DefaultFolder();

    QString folder() const { return m_folder; }
    // folder() + "/nimbril.desktop".
    QString file() const;

    // Writes the entry for the program atomically, creating the folder; false when it could not.
    bool Enable(const QString& executable) const;
    // Removes the entry; true when none remains.
    bool Disable() const;
    // Whether the entry exists, is not switched off (Hidden=true,
    // X-GNOME-Autostart-enabled=false) and starts this program.
    bool StartsProgram(const QString& executable) const;

    // The entry's text for a program.
    static QByteArray EntryText(const QString& executable);

private:
    QString m_folder;
};

// One command of the capture launcher: its id in the file, its name in the launcher's menu, and
// the arguments the capture program runs with.
struct LauncherAction
{
    QString id;
    QString name;
    QStringList arguments;
};

// The user's launcher for the capture commands (nimbril-capture.desktop in the applications
// folder). Linux browsers take no toolbar buttons from other programs; docks and application
// menus show a launcher's actions in its context menu, so that is where the capture commands go,
// each running the capture program, which needs no window of ours.
class CaptureLauncher
{
public:
    // An empty folder means DefaultFolder(), looked up now.
    explicit CaptureLauncher(const QString& folder = QString());

    // $XDG_DATA_HOME (when it is an absolute path) or ~/.local/share, followed by
    // "/applications".
    static QString DefaultFolder();

    QString file() const;
    // Writes the launcher atomically, creating the folder; its own command is the first action's.
    // False when it could not, or when there is no action.
    bool Install(const QString& captureProgram, const QString& name,
                 const QList<LauncherAction>& actions) const;
    // Removes the launcher; true when none remains.
    bool Remove() const;
    bool Installed() const;

    static QByteArray EntryText(const QString& captureProgram, const QString& name,
                                const QList<LauncherAction>& actions);

private:
    QString m_folder;
};

// The desktop entry format's quoting of one Exec argument as it stands in the file: quoted, with
// the characters the format reserves escaped, and the string escapes applied on top.
QString QuoteExecArgument(const QString& argument);

// The first argument (the program) of an Exec value as it stands in the file, unquoted; empty
// when there is none.
QString ExecProgram(const QString& execValue);
