#include "Prompts.h"

#include "CollectionFiles.h"
#include "FolderChooser.h"
#include "LanguageCatalogue.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace {

QString Title()
{
    return QApplication::applicationDisplayName();
}

} // namespace

QWidget* DialogOwner(QWidget* parent)
{
    QWidget* window = parent ? parent->window() : nullptr;
    if (!window || !window->isVisible() || window->isMinimized())
        return nullptr;
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog ? window : nullptr;
}

Prompts::Prompts(const LanguageCatalogue& language) : m_language(language) {}

bool Prompts::record(const char* kind, const QString& text)
{
    if (!m_scripted)
        return false;
    m_shown << QString::fromLatin1(kind) + QStringLiteral(": ") + text;
    return true;
}

void Prompts::information(QWidget* parent, const QString& text)
{
    if (!record("information", text))
        QMessageBox::information(DialogOwner(parent), Title(), text);
}

void Prompts::warning(QWidget* parent, const QString& text)
{
    if (!record("warning", text))
        QMessageBox::warning(DialogOwner(parent), Title(), text);
}

void Prompts::error(QWidget* parent, const QString& text)
{
    if (!record("error", text))
        QMessageBox::critical(DialogOwner(parent), Title(), text);
}

void Prompts::about(QWidget* parent, const QString& title, const QString& text)
{
    if (!record("about", title + u'\n' + text))
        QMessageBox::about(DialogOwner(parent), title, text);
}

Prompts::Answer Prompts::askYesNoCancel(QWidget* parent, const QString& text,
                                        QMessageBox::Icon icon)
{
    if (record("question", text))
        return m_answers.isEmpty() ? Answer::Cancel : m_answers.takeFirst();
    QMessageBox box(icon, Title(), text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    DialogOwner(parent));
    box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

bool Prompts::mayReplaceFile(QWidget* parent, const QString& fileName)
{
    return !QFileInfo::exists(fileName) ||
           askYesNoCancel(parent, m_language.text(QStringLiteral("C_OverridePrompt")),
                          QMessageBox::Question) == Answer::Yes;
}

QString Prompts::askFileName(QWidget* parent, bool open, const QString& caption, const QString& dir,
                             const QString& filter, const QString& defaultSuffix)
{
    if (m_scripted) {
        m_fileQuestions << (open ? QStringLiteral("open: ") : QStringLiteral("save: ")) + dir;
        const QString answer = m_fileNames.isEmpty() ? QString() : m_fileNames.takeFirst();
        return answer.isEmpty() ? QString() : WithDefaultSuffix(answer, defaultSuffix);
    }
    QFileDialog dialog(DialogOwner(parent), caption, dir, filter);
    dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    // Neither question insists on an existing file nor asks about replacing one.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return WithDefaultSuffix(dialog.selectedFiles().constFirst(), defaultSuffix);
}

QString Prompts::openFileName(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter, const QString& defaultSuffix)
{
    return askFileName(parent, true, caption, dir, filter, defaultSuffix);
}

QString Prompts::saveFileName(QWidget* parent, const QString& caption, const QString& dir,
                              const QString& filter, const QString& defaultSuffix)
{
    return askFileName(parent, false, caption, dir, filter, defaultSuffix);
}

std::optional<QString> Prompts::chooseFolder(QWidget* parent, const QString& title,
                                             const QString& startFolder)
{
    if (m_scripted) {
        m_folderStarts << startFolder;
        if (m_folders.isEmpty())
            return std::nullopt;
        const std::optional<QString> typed = m_folders.takeFirst();
        if (!typed)
            return std::nullopt;
        QString error;
        const QString folder = AcceptChosenFolder(*typed, startFolder, &error);
        if (folder.isEmpty())
            return std::nullopt;
        return folder;
    }
    FolderChooserDialog dialog(DialogOwner(parent), title, ExistingFolderOrParent(startFolder),
                               m_language);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.chosen();
}

void Prompts::setScripted(bool scripted)
{
    m_scripted = scripted;
    if (!scripted) {
        m_answers.clear();
        m_fileNames.clear();
        m_folders.clear();
    }
}

void Prompts::setNextAnswers(const QList<Answer>& answers)
{
    m_scripted = true;
    m_answers = answers;
}

void Prompts::setNextFileNames(const QStringList& names)
{
    m_scripted = true;
    m_fileNames = names;
    m_fileQuestions.clear();
}

void Prompts::setNextFolders(const QList<std::optional<QString>>& typed)
{
    m_scripted = true;
    m_folders = typed;
    m_folderStarts.clear();
}

QString WithDefaultSuffix(const QString& fileName, const QString& suffix)
{
    if (suffix.isEmpty() || fileName.isEmpty())
        return fileName;
    const QString name = QFileInfo(fileName).fileName();
    if (name.isEmpty() || name.contains(u'.'))
        return fileName;
    return fileName + u'.' + suffix;
}
