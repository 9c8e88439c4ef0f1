#pragma once

#include <QString>

// Reads and writes one key of an initialisation file with the semantics the program relies on:
// sections and keys without regard to case, one pair of enclosing quotes removed and blanks
// around a value dropped on reading, at most 2,047 characters returned, the default when file,
// section or key is missing; writing creates file and section, replaces the value, keeps every
// other line, writes CR LF lines and replaces the file atomically.
namespace IniFile {

constexpr int MaxValueLength = 2047;

QString ReadString(const QString& path, const QString& section, const QString& key,
                   const QString& defaultValue = QString());

// Throws IniWriteError with the file's path when the file cannot be written.
void WriteString(const QString& path, const QString& section, const QString& key,
                 const QString& value);

// The whole file's text as ReadString sees it (UTF-8, a byte-order mark dropped); a null text
// when the file cannot be read.
QString ReadText(const QString& path);

// Same rules as ReadString, on text already in memory (used by tests and by readers that keep
// one file's text for several look-ups).
QString ReadStringFromText(const QString& text, const QString& section, const QString& key,
                           const QString& defaultValue = QString());

// The text without the blanks (spaces and tabs) around it, as the reader drops them.
QStringView TrimBlanks(QStringView text);
bool IsBlank(QChar c);

} // namespace IniFile
