#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Every file-name question of the program goes through here, so that a test can preset the next
// answers instead of opening a modal file dialog.
namespace FileDialogs {

// Asks for a file to open; empty when the user cancels. The file need not exist: a typed name
// that does not is returned as it is, and the caller reports the failure to open it. A name
// typed without an extension gets defaultSuffix when one is given. The filter is in Qt's form,
// choices separated by ";;".
QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter, const QString& defaultSuffix = QString());

// Asks for a file to save to; empty when the user cancels. It does not ask about replacing an
// existing file: callers that must, ask themselves.
QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter, const QString& defaultSuffix = QString());

// Test seam: while presetting, no dialog opens; each question takes the next answer (an empty
// answer or none left means Cancel) and is recorded as "open: DIR" or "save: DIR".
void PresetAnswers(const QStringList& answers);
void StopPresetting();
QStringList Asked();

// The name with ".suffix" added when its file-name part has no extension.
QString WithDefaultSuffix(const QString& fileName, const QString& suffix);

} // namespace FileDialogs
