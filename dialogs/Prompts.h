#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <optional>

class LanguageCatalogue;
class QWidget;

// Every question and message the windows put to the user: message boxes, file choosers and the
// folder chooser. A test scripts it: once scripted, nothing opens; messages are recorded as
// "kind: text", and each question takes the next answer the test set.
class Prompts
{
public:
    enum class Answer
    {
        Yes,
        No,
        Cancel,
        Ok
    };

    explicit Prompts(const LanguageCatalogue& language);

    // Information, warning and error with OK.
    void information(QWidget* parent, const QString& text);
    void warning(QWidget* parent, const QString& text);
    // The error display of a command that failed: the error's text.
    void error(QWidget* parent, const QString& text);
    // An About box with a title and text.
    void about(QWidget* parent, const QString& title, const QString& text);
    // A confirmation or warning with Yes, No and Cancel; only Yes goes on.
    Answer askYesNoCancel(QWidget* parent, const QString& text,
                          QMessageBox::Icon icon = QMessageBox::Warning);
    // Whether a file may be written under this name: yes when none is there, else when the user
    // answers Yes to the translated replace prompt (C_OverridePrompt).
    bool mayReplaceFile(QWidget* parent, const QString& fileName);

    // Asks for a file to open; empty when the user cancels. The file need not exist: a typed name
    // that does not is returned as it is, and the caller reports the failure to open it. A name
    // typed without an extension gets defaultSuffix when one is given. The filter is in Qt's
    // form, choices separated by ";;".
    QString openFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter, const QString& defaultSuffix = QString());
    // Asks for a file to save to; empty when the user cancels. It does not ask about replacing an
    // existing file: callers that must, ask themselves.
    QString saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                         const QString& filter, const QString& defaultSuffix = QString());

    // Asks for a folder, starting at startFolder; the user may pick one or type one that does
    // not exist yet, which is then created. Nothing when the user cancels.
    std::optional<QString> chooseFolder(QWidget* parent, const QString& title,
                                        const QString& startFolder);

    // ---- scripting, for tests ----
    // Scripted or not; scripting starts with any of the setters below.
    void setScripted(bool scripted);
    bool scripted() const { return m_scripted; }
    // The answers of the next Yes/No/Cancel questions (Cancel once none is left).
    void setNextAnswers(const QList<Answer>& answers);
    // The next file names chosen (an empty one, or none left, cancels); clears fileQuestions().
    void setNextFileNames(const QStringList& names);
    // The next folder texts typed (nothing, or none left, cancels); a relative text is taken
    // below the start folder. Clears folderStarts().
    void setNextFolders(const QList<std::optional<QString>>& typed);
    // Every message and question shown, as "information: text", "question: text" and so on.
    QStringList shown() const { return m_shown; }
    void clearShown() { m_shown.clear(); }
    // The file questions as "open: DIR" or "save: DIR".
    QStringList fileQuestions() const { return m_fileQuestions; }
    // The start folders of the folder questions.
    QStringList folderStarts() const { return m_folderStarts; }

private:
    bool record(const char* kind, const QString& text);
    QString askFileName(QWidget* parent, bool open, const QString& caption, const QString& dir,
                        const QString& filter, const QString& defaultSuffix);

    const LanguageCatalogue& m_language;
    bool m_scripted = false;
    QList<Answer> m_answers;
    QStringList m_fileNames;
    QList<std::optional<QString>> m_folders;
    QStringList m_shown;
    QStringList m_fileQuestions;
    QStringList m_folderStarts;
};

// The window a question or message is centred over: the parent's window when it is an ordinary
// window on the screen; else none, and the question is centred on the screen (the floating window
// is a small tool window at the screen's edge, a hidden or minimised window is not to be seen).
QWidget* DialogOwner(QWidget* parent);

// The name with ".suffix" added when its file-name part has no extension.
QString WithDefaultSuffix(const QString& fileName, const QString& suffix);
