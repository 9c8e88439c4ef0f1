#pragma once

#include "Message.h"

#include <QFont>
#include <QHash>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>

class TraditionalConverter;

// The two fixed language names: Simplified Chinese has its own file, Traditional Chinese is
// derived from it.
extern const QString SimplifiedChineseName;  // "简体中文"
extern const QString TraditionalChineseName; // "繁體中文"

// The windows' texts in the current language, from the ".LAG" files of the program folder. The
// current language's file is read once, when the language is set; windows listen to changed()
// to put their texts in the new language.
class LanguageCatalogue : public QObject
{
    Q_OBJECT
public:
    explicit LanguageCatalogue(const QString& programDir, QObject* parent = nullptr);

    QString language() const { return m_language; }
    // Makes Name the current language and reads its file (for Traditional Chinese, the Simplified
    // Chinese file); signals changed() when the name differs from the current one.
    void setLanguage(const QString& name);

    // The current language's text for a key ("Form_Main.m_Exit.Caption", "C_CloseIE"); empty when
    // the file or the key is missing. Keys are compared without regard to case.
    QString text(const QString& key) const;
    // The same, or fallback when the file has no text for the key (a language file written for
    // an earlier version lacks the newer keys).
    QString text(const QString& key, const QString& fallback) const;
    // A message of the layers below the windows, worded in the current language (in English
    // where the file has no text for one of its keys).
    QString translate(const Message& message) const;

    // For Traditional Chinese, whose texts are converted from the Simplified Chinese file: a
    // sentence for the user when they cannot be (the converter did not load), as the Simplified
    // Chinese texts are shown then; empty otherwise.
    QString conversionNotice() const;
    // The converter for Traditional Chinese; the program's shared one unless set (tests).
    void setConverter(const TraditionalConverter* converter) { m_converter = converter; }

    // The font that suits the current language for the few labels that take it.
    QFont font() const;

    // The languages the program folder offers: the names up to the last "." of every entry that
    // matches "*.LAG" (folders too), in the file system's order, then Traditional Chinese.
    QStringList languages() const;

    // programDir + name + ".LAG".
    QString fileOf(const QString& language) const;

Q_SIGNALS:
    void changed();

private:
    void load();
    const TraditionalConverter& converter() const;

    QString m_programDir;
    QString m_language;
    QString m_fileText; // null when the file could not be read
    mutable QHash<QString, QString> m_texts;
    const TraditionalConverter* m_converter = nullptr;
};

// A caption as a title or a message shows it: without its accelerator, whether written "(&C)"
// after the text as Chinese captions do or as "&" inside it; "&&" stays one "&".
QString WithoutMnemonic(const QString& caption);

// The base name of Qt's own translation of its dialogs and buttons for a language
// ("qtbase_zh_CN"); empty for English and for languages Qt is not translated into here.
QString QtTranslationName(const QString& language);

// Simplified Chinese characters mapped to their traditional forms by the shared converter;
// other characters unchanged.
QString ToTraditionalChinese(const QString& text);

// The offered language that suits a locale ("zh_TW", "de_DE"): Chinese by its script or region,
// other languages by the language's own or English name; empty when none does.
QString LanguageForLocale(const QStringList& offered, const QLocale& locale);

// The entry equal to the stored language regardless of letter case, the first entry when
// nothing is stored, or -1.
int LanguageListSelection(const QStringList& entries, const QString& storedLanguage);
