#include "u_Language.h"

#include "IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <opencc/opencc.h>

const QString SimplifiedChineseName = QStringLiteral("简体中文");
const QString TraditionalChineseName = QStringLiteral("繁體中文");

namespace {

const QString kSection = QStringLiteral("Translations");

// OpenCC's converter is expensive to open and holds no language text, so one is kept for the
// process; the language files themselves are read at every look-up.
class TraditionalConverter
{
public:
    TraditionalConverter() : m_handle(opencc_open("s2t.json")) {}
    ~TraditionalConverter()
    {
        if (valid())
            opencc_close(m_handle);
    }
    TraditionalConverter(const TraditionalConverter&) = delete;
    TraditionalConverter& operator=(const TraditionalConverter&) = delete;

    bool valid() const { return m_handle != reinterpret_cast<opencc_t>(-1); }

    QString convert(const QString& text) const
    {
        if (!valid() || text.isEmpty())
            return text;
        const QByteArray utf8 = text.toUtf8();
        char* out = opencc_convert_utf8(m_handle, utf8.constData(), size_t(utf8.size()));
        if (!out)
            return text;
        QString result = QString::fromUtf8(out);
        opencc_convert_utf8_free(out);
        return result;
    }

private:
    opencc_t m_handle;
};

} // namespace

QString LanguageFile(const QString& language)
{
    return AppDir + language + QStringLiteral(".LAG");
}

QString Translate(const QString& key)
{
    if (CurrentLanguage == TraditionalChineseName) {
        const QString file = LanguageFile(SimplifiedChineseName);
        if (!QFileInfo::exists(file))
            return QString();
        return ToTraditionalChinese(IniFile::ReadString(file, kSection, key));
    }
    const QString file = LanguageFile(CurrentLanguage);
    if (!QFileInfo::exists(file))
        return QString();
    return IniFile::ReadString(file, kSection, key);
}

QString ToTraditionalChinese(const QString& text)
{
    static const TraditionalConverter converter;
    return converter.convert(text);
}

QFont LanguageFont()
{
    QFont font;
    if (CurrentLanguage == SimplifiedChineseName || CurrentLanguage == TraditionalChineseName) {
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

QStringList AvailableLanguages()
{
    QStringList names;
    const QFileInfoList files = QDir(AppDir).entryInfoList(
        {QStringLiteral("*.LAG")}, QDir::Files | QDir::CaseSensitive, QDir::Unsorted);
    for (const QFileInfo& f : files) {
        const QString name = f.fileName();
        names << name.left(name.lastIndexOf(u'.'));
    }
    names << TraditionalChineseName;
    return names;
}
