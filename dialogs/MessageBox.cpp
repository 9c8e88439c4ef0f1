#include "MessageBox.h"

#include "u_Language.h"

#include <QApplication>
#include <QFileInfo>

namespace {

struct Seam
{
    bool recording = false;
    QList<MessageBox::Answer> answers;
    QStringList shown;
};

Seam& seam()
{
    static Seam s;
    return s;
}

bool Record(const char* kind, const QString& text)
{
    if (!seam().recording)
        return false;
    seam().shown << QString::fromLatin1(kind) + QStringLiteral(": ") + text;
    return true;
}

QString Title()
{
    return QApplication::applicationDisplayName();
}

} // namespace

namespace MessageBox {

void Information(QWidget* parent, const QString& text)
{
    if (!Record("information", text))
        QMessageBox::information(parent, Title(), text);
}

void Warning(QWidget* parent, const QString& text)
{
    if (!Record("warning", text))
        QMessageBox::warning(parent, Title(), text);
}

Answer AskYesNoCancel(QWidget* parent, const QString& text, QMessageBox::Icon icon)
{
    if (Record("question", text))
        return seam().answers.isEmpty() ? Answer::Cancel : seam().answers.takeFirst();
    QMessageBox box(icon, Title(), text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    parent);
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

bool MayReplaceFile(QWidget* parent, const QString& fileName)
{
    return !QFileInfo::exists(fileName) ||
           AskYesNoCancel(parent, Translate(QStringLiteral("C_OverridePrompt")),
                          QMessageBox::Question) == Answer::Yes;
}

void Error(QWidget* parent, const QString& text)
{
    if (!Record("error", text))
        QMessageBox::critical(parent, Title(), text);
}

void About(QWidget* parent, const QString& title, const QString& text)
{
    if (!Record("about", title + u'\n' + text))
        QMessageBox::about(parent, title, text);
}

void PresetAnswers(const QList<Answer>& answers)
{
    seam().recording = true;
    seam().answers = answers;
}

void StartRecording()
{
    seam().recording = true;
    seam().shown.clear();
}

void StopRecording()
{
    seam().recording = false;
    seam().answers.clear();
}

QStringList Recorded()
{
    return seam().shown;
}

} // namespace MessageBox
