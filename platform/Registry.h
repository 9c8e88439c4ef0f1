#pragma once

#include <QString>
#include <QStringList>

class Registry;

// One opened key of the registry stand-in. Every call reads the file afresh and every change
// rewrites it atomically, so a key held open never works on stale text; a key that did not open
// reads empty and changes nothing.
class RegistryKey
{
public:
    RegistryKey() = default;

    bool isOpen() const { return m_open; }
    // A missing value reads as empty.
    QString ReadString(const QString& name) const;
    // Creates or replaces a string value; false when the file could not be written.
    bool WriteString(const QString& name, const QString& data);
    // Deleting a value that is not there succeeds and changes nothing.
    bool DeleteValue(const QString& name);
    void Close() { m_open = false; }

private:
    friend class Registry;
    QString m_file;
    QString m_path;
    bool m_open = false;
};

// The machine-wide registry's stand-in on a system that has none: registry.ini beside Config.ini,
// one section per key path (without its leading and trailing backslash, compared without regard
// to case) holding one line per value name. Keys open only while the file can be replaced, as the
// real registry opens them only with full access; a key that cannot be opened makes the operation
// do nothing. Data that an ini line cannot hold as it stands (line breaks, blanks at either end,
// a leading quote) is written quoted with backslash escapes.
class Registry
{
public:
    // File is the stand-in's path, programDir + "registry.ini" in the program.
    explicit Registry(const QString& file, const QStringList& systemKeys = SystemKeys());

    // The stand-in's file in a program folder (ending with "/").
    static QString FileIn(const QString& programDir);
    // Keys the system itself provides, which exist even in an empty file (the start-up key).
    static const QStringList& SystemKeys();

    QString file() const { return m_file; }

    // Opens a key, creating it (and so its parents) when asked; the result is not open when the
    // file cannot be replaced, or when the key is missing and create is false.
    RegistryKey OpenKey(const QString& path, bool create) const;
    // Deletes a key with its subkeys and values; deleting a missing key changes nothing. False
    // when the file could not be written.
    bool DeleteKey(const QString& path) const;
    // Whether the file may be read and replaced now.
    bool writable() const;

private:
    QString m_file;
    QStringList m_systemKeys;
};
