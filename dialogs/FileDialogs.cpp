#include "FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

struct Seam
{
    bool presetting = false;
    QStringList answers;
    QStringList asked;
};

Seam& seam()
{
    static Seam s;
    return s;
}

QString Ask(QWidget* parent, QFileDialog::AcceptMode mode, const QString& caption,
            const QString& dir, const QString& filter, const QString& defaultSuffix)
{
    const bool open = mode == QFileDialog::AcceptOpen;
    if (seam().presetting) {
        seam().asked << (open ? QStringLiteral("open: ") : QStringLiteral("save: ")) + dir;
        const QString answer = seam().answers.isEmpty() ? QString() : seam().answers.takeFirst();
        return answer.isEmpty() ? QString() : FileDialogs::WithDefaultSuffix(answer, defaultSuffix);
    }
    QFileDialog dialog(parent, caption, dir, filter);
    dialog.setAcceptMode(mode);
    // Neither question insists on an existing file nor asks about replacing one.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return FileDialogs::WithDefaultSuffix(dialog.selectedFiles().constFirst(), defaultSuffix);
}

} // namespace

namespace FileDialogs {

QString GetOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter, const QString& defaultSuffix)
{
    return Ask(parent, QFileDialog::AcceptOpen, caption, dir, filter, defaultSuffix);
}

QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                        const QString& filter, const QString& defaultSuffix)
{
    return Ask(parent, QFileDialog::AcceptSave, caption, dir, filter, defaultSuffix);
}

void PresetAnswers(const QStringList& answers)
{
    seam().presetting = true;
    seam().answers = answers;
    seam().asked.clear();
}

void StopPresetting()
{
    seam().presetting = false;
    seam().answers.clear();
}

QStringList Asked()
{
    return seam().asked;
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

} // namespace FileDialogs
