#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

// Every message dialog of the program goes through here, so that a test can preset the next
// answers and read what would have been shown instead of opening a modal box.
namespace MessageBox {

enum class Answer
{
    Yes,
    No,
    Cancel,
    Ok
};

// Information with OK.
void Information(QWidget* parent, const QString& text);
// Warning with OK.
void Warning(QWidget* parent, const QString& text);
// A confirmation or warning with Yes, No and Cancel; only Yes goes on.
Answer AskYesNoCancel(QWidget* parent, const QString& text,
                      QMessageBox::Icon icon = QMessageBox::Warning);
// Whether a file may be written under this name: yes when none is there, else when the user
// answers Yes to the translated replace prompt (C_OverridePrompt).
bool MayReplaceFile(QWidget* parent, const QString& fileName);
// The error display of a command that failed: the error's text.
void Error(QWidget* parent, const QString& text);
// An About box with a title and text.
void About(QWidget* parent, const QString& title, const QString& text);

// Test seam: while answers are queued (or recording is on), nothing is shown; every call is
// recorded as "kind: text" and AskYesNoCancel takes the next queued answer (Cancel when none).
void PresetAnswers(const QList<Answer>& answers);
void StartRecording();
void StopRecording();
QStringList Recorded();

} // namespace MessageBox
