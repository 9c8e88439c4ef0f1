#include "StyleSheets.h"

#include <vector>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool IsLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\f';
}

bool IsNameChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'-' || c == u'_' || c.unicode() >= 0x80;
}

int HexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

// Moves past a line break, a CR LF pair counting as one.
void SkipLineBreak(QStringView css, qsizetype& at)
{
    if (css[at] == u'\r' && at + 1 < css.size() && css[at + 1] == u'\n')
        ++at;
    ++at;
}

// The characters an escape at css[at] (a backslash) stands for; `at` moves past it.
QString ReadEscape(QStringView css, qsizetype& at)
{
    ++at;
    if (at >= css.size())
        return QString(QChar(0xFFFD));
    char32_t code = 0;
    int digits = 0;
    while (digits < 6 && at < css.size() && HexValue(css[at]) >= 0) {
        code = code * 16 + char32_t(HexValue(css[at]));
        ++at;
        ++digits;
    }
    if (digits > 0) {
        if (at < css.size() && IsBlank(css[at]))
            SkipLineBreak(css, at);
        if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            code = 0xFFFD;
        return QString::fromUcs4(&code, 1);
    }
    const qsizetype from = at++;
    if (css[from].isHighSurrogate() && at < css.size() && css[at].isLowSurrogate())
        ++at;
    return css.sliced(from, at - from).toString();
}

// Reads the string whose quote is at css[at]; `at` moves past its end. A string that a line break
// ends is a bad one: false, and `at` stays at the break.
bool ReadString(QStringView css, qsizetype& at, QString& value)
{
    const QChar quote = css[at++];
    while (at < css.size()) {
        const QChar c = css[at];
        if (c == quote) {
            ++at;
            return true;
        }
        if (IsLineBreak(c))
            return false;
        if (c == u'\\') {
            if (at + 1 < css.size() && IsLineBreak(css[at + 1])) {
                ++at;
                SkipLineBreak(css, at); // a continued line
            } else {
                value += ReadEscape(css, at);
            }
            continue;
        }
        value += c;
        ++at;
    }
    return true;
}

void SkipBlanksAndComments(QStringView css, qsizetype& at)
{
    for (;;) {
        while (at < css.size() && IsBlank(css[at]))
            ++at;
        if (at + 1 < css.size() && css[at] == u'/' && css[at + 1] == u'*') {
            const qsizetype end = css.indexOf(u"*/", at + 2);
            at = end < 0 ? css.size() : end + 2;
            continue;
        }
        return;
    }
}

// Moves past the rest of a url token that cannot be read, up to its closing parenthesis.
void SkipBadUrl(QStringView css, qsizetype& at)
{
    while (at < css.size()) {
        if (css[at] == u')') {
            ++at;
            return;
        }
        at += (css[at] == u'\\' && at + 1 < css.size()) ? 2 : 1;
    }
}

// Reads what follows "url(" up to and including its closing parenthesis; nullopt for a token a
// browser would not take as an address.
std::optional<QString> ReadUrlBody(QStringView css, qsizetype& at)
{
    while (at < css.size() && IsBlank(css[at]))
        ++at;
    QString value;
    if (at < css.size() && (css[at] == u'"' || css[at] == u'\'')) {
        if (!ReadString(css, at, value)) {
            SkipBadUrl(css, at);
            return std::nullopt;
        }
        SkipBlanksAndComments(css, at);
        if (at < css.size() && css[at] != u')') {
            SkipBadUrl(css, at);
            return std::nullopt;
        }
        if (at < css.size())
            ++at;
        return value;
    }
    while (at < css.size()) {
        const QChar c = css[at];
        if (c == u')') {
            ++at;
            return value;
        }
        if (IsBlank(c)) {
            while (at < css.size() && IsBlank(css[at]))
                ++at;
            if (at >= css.size() || css[at] == u')') {
                at += at < css.size() ? 1 : 0;
                return value;
            }
            break;
        }
        if (c == u'"' || c == u'\'' || c == u'(' || c.unicode() < 0x20 || c.unicode() == 0x7F)
            break;
        if (c == u'\\') {
            if (at + 1 < css.size() && IsLineBreak(css[at + 1]))
                break;
            value += ReadEscape(css, at);
            continue;
        }
        value += c;
        ++at;
    }
    if (at >= css.size())
        return value;
    SkipBadUrl(css, at);
    return std::nullopt;
}

bool NamesSomethingToLoad(const QString& address)
{
    return !address.isEmpty() && !address.startsWith(u'#') &&
           !address.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

QString Escaped(const QString& address)
{
    QString out;
    out.reserve(address.size() + 2);
    for (const QChar c : address) {
        if (c == u'\\' || c == u'"')
            out += u'\\' + QString(c);
        else if (c == u'\n')
            out += QLatin1String("\\a ");
        else if (c == u'\r')
            out += QLatin1String("\\d ");
        else if (c == u'\f')
            out += QLatin1String("\\c ");
        else
            out += c;
    }
    return out;
}

} // namespace

QList<SheetAddress> SheetAddresses(QStringView css)
{
    QList<SheetAddress> found;
    auto take = [&found](qsizetype start, qsizetype end, const QString& value, bool import,
                         bool urlToken) {
        const QString address = value.trimmed();
        if (NamesSomethingToLoad(address))
            found.append({start, end - start, address, import, urlToken});
    };
    std::vector<int> imageSets; // the nesting depths of the image-set functions open here
    int depth = 0;
    qsizetype at = 0;
    while (at < css.size()) {
        const QChar c = css[at];
        if (c == u'/' && at + 1 < css.size() && css[at + 1] == u'*') {
            SkipBlanksAndComments(css, at);
        } else if (c == u'"' || c == u'\'') {
            const qsizetype start = at;
            QString value;
            const bool whole = ReadString(css, at, value);
            if (whole && !imageSets.empty())
                take(start, at, value, false, false);
        } else if (c == u'\\') {
            ReadEscape(css, at);
        } else if (c == u'(') {
            ++depth;
            ++at;
        } else if (c == u')') {
            if (!imageSets.empty() && imageSets.back() == depth)
                imageSets.pop_back();
            --depth;
            ++at;
        } else if (c == u'@') {
            qsizetype end = at + 1;
            while (end < css.size() && IsNameChar(css[end]))
                ++end;
            const bool import =
                css.sliced(at + 1, end - at - 1).compare(u"import", Qt::CaseInsensitive) == 0;
            at = end;
            if (!import)
                continue;
            qsizetype p = at;
            SkipBlanksAndComments(css, p);
            if (p < css.size() && (css[p] == u'"' || css[p] == u'\'')) {
                QString value;
                const qsizetype start = p;
                if (ReadString(css, p, value))
                    take(start, p, value, true, false);
                at = p;
            } else if (p + 4 <= css.size() &&
                       css.sliced(p, 4).compare(u"url(", Qt::CaseInsensitive) == 0) {
                const qsizetype start = p;
                p += 4;
                if (const std::optional<QString> value = ReadUrlBody(css, p))
                    take(start, p, *value, true, true);
                at = p;
            }
        } else if (IsNameChar(c)) {
            const qsizetype start = at;
            while (at < css.size() && IsNameChar(css[at]))
                ++at;
            if (at >= css.size() || css[at] != u'(')
                continue;
            const QStringView name = css.sliced(start, at - start);
            ++at;
            if (name.compare(u"url", Qt::CaseInsensitive) == 0) {
                if (const std::optional<QString> value = ReadUrlBody(css, at))
                    take(start, at, *value, false, true);
                continue;
            }
            ++depth;
            if (name.compare(u"image-set", Qt::CaseInsensitive) == 0 ||
                name.compare(u"-webkit-image-set", Qt::CaseInsensitive) == 0)
                imageSets.push_back(depth);
        } else {
            ++at;
        }
    }
    return found;
}

QString
ReplaceSheetAddresses(QStringView css,
                      const std::function<std::optional<QString>(const SheetAddress&)>& replace)
{
    QString out;
    out.reserve(css.size());
    qsizetype copied = 0;
    for (const SheetAddress& a : SheetAddresses(css)) {
        const std::optional<QString> now = replace(a);
        if (!now)
            continue;
        out += css.sliced(copied, a.start - copied);
        out += a.urlToken ? QStringLiteral("url(\"%1\")").arg(Escaped(*now))
                          : u'"' + Escaped(*now) + u'"';
        copied = a.start + a.length;
    }
    out += css.sliced(copied);
    return out;
}
