#include "LanguageCatalogue.h"

#include "IniFile.h"
#include "TraditionalConverter.h"

#include <QDir>
#include <QRegularExpression>

const QString SimplifiedChineseName = QStringLiteral("简体中文");
const QString TraditionalChineseName = QStringLiteral("繁體中文");

namespace {

const QString kSection = QStringLiteral("Translations");

} // namespace

LanguageCatalogue::LanguageCatalogue(const QString& programDir, QObject* parent)
    : QObject(parent), m_programDir(programDir.endsWith(u'/') ? programDir : programDir + u'/')
{}

QString LanguageCatalogue::fileOf(const QString& language) const
{
    return m_programDir + language + QStringLiteral(".LAG");
}

void LanguageCatalogue::setLanguage(const QString& name)
{
    const bool changing = name != m_language;
    m_language = name;
    load();
    if (changing)
        Q_EMIT changed();
}

void LanguageCatalogue::load()
{
    m_texts.clear();
    const bool traditional = m_language == TraditionalChineseName;
    m_fileText = IniFile::ReadText(fileOf(traditional ? SimplifiedChineseName : m_language));
}

QString LanguageCatalogue::text(const QString& key) const
{
    if (m_fileText.isNull())
        return QString();
    const QString folded = key.toLower();
    const auto known = m_texts.constFind(folded);
    if (known != m_texts.constEnd())
        return *known;
    QString text = IniFile::ReadStringFromText(m_fileText, kSection, key);
    if (m_language == TraditionalChineseName)
        text = converter().convert(text);
    m_texts.insert(folded, text);
    return text;
}

QString LanguageCatalogue::text(const QString& key, const QString& fallback) const
{
    const QString found = text(key);
    return found.isEmpty() ? fallback : found;
}

const TraditionalConverter& LanguageCatalogue::converter() const
{
    return m_converter ? *m_converter : TraditionalConverter::Shared();
}

QString LanguageCatalogue::conversionNotice() const
{
    if (m_language != TraditionalChineseName)
        return QString();
    const QString problem = converter().problem();
    if (problem.isEmpty())
        return QString();
    return text(QStringLiteral("C_NoTraditionalChinese"),
                QStringLiteral("Traditional Chinese texts are converted from the Simplified "
                               "Chinese ones by OpenCC, which could not be loaded (%1). The "
                               "Simplified Chinese texts are shown."))
        .arg(problem);
}

QString LanguageCatalogue::translate(const Message& message) const
{
    return message.text([this](const QString& key) { return text(key); });
}

QFont LanguageCatalogue::font() const
{
    QFont font;
    if (m_language == SimplifiedChineseName || m_language == TraditionalChineseName) {
        font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                          QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
        font.setPointSize(9);
    } else {
        font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                          QStringLiteral("Sans Serif")});
        font.setPointSize(8);
    }
    return font;
}

QStringList LanguageCatalogue::languages() const
{
    QStringList names;
    const QStringList entries = QDir(m_programDir)
                                    .entryList({QStringLiteral("*.LAG")},
                                               QDir::AllEntries | QDir::Hidden | QDir::System |
                                                   QDir::NoDotAndDotDot | QDir::CaseSensitive,
                                               QDir::Unsorted);
    for (const QString& entry : entries)
        names << entry.left(entry.lastIndexOf(u'.'));
    names << TraditionalChineseName;
    return names;
}

QString WithoutMnemonic(const QString& caption)
{
    static const QRegularExpression bracketed(QStringLiteral("[(（]&[^&\\s][)）]"));
    QString text = caption;
    text.remove(bracketed);
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(u'&');
    text.replace(u'\x01', u'&');
    return text;
}

QString QtTranslationName(const QString& language)
{
    if (language == SimplifiedChineseName)
        return QStringLiteral("qtbase_zh_CN");
    if (language == TraditionalChineseName)
        return QStringLiteral("qtbase_zh_TW");
    return QString();
}

QString ToTraditionalChinese(const QString& text)
{
    return TraditionalConverter::Shared().convert(text);
}

QString LanguageForLocale(const QStringList& offered, const QLocale& locale)
{
    const auto pick = [&offered](const QString& name) {
        for (const QString& entry : offered)
            if (entry.compare(name, Qt::CaseInsensitive) == 0)
                return entry;
        return QString();
    };
    if (locale.language() == QLocale::Chinese) {
        const bool traditional =
            locale.script() == QLocale::TraditionalHanScript ||
            (locale.script() == QLocale::AnyScript &&
             (locale.territory() == QLocale::Taiwan || locale.territory() == QLocale::HongKong ||
              locale.territory() == QLocale::Macau));
        return pick(traditional ? TraditionalChineseName : SimplifiedChineseName);
    }
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage)
        return QString();
    // The language's own name as its main country writes it ("Deutsch", not Austria's).
    const QString native = pick(QLocale(locale.language()).nativeLanguageName());
    return native.isEmpty() ? pick(QLocale::languageToString(locale.language())) : native;
}

int LanguageListSelection(const QStringList& entries, const QString& storedLanguage)
{
    if (storedLanguage.isEmpty())
        return entries.isEmpty() ? -1 : 0;
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (entries[i].compare(storedLanguage, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}
