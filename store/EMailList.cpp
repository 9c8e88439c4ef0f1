#include "EMailList.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileCopy.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Millions of addresses fit many times over.
constexpr qint64 kMaxListBytes = 1024 * 1024 * 1024;

// Existing lines are only scanned, so progress is reported in steps rather than per line.
constexpr qsizetype kProgressStep = 1024;

// The lines of Bytes as views into it, so that a large file is not copied line by line.
std::vector<QByteArrayView> LineViews(const QByteArray& bytes)
{
    std::vector<QByteArrayView> lines;
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        p += 3;
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\r' && *q != '\n')
            ++q;
        lines.emplace_back(p, q - p);
        if (q < end && *q == '\r')
            ++q;
        if (q < end && *q == '\n')
            ++q;
        p = q;
    }
    return lines;
}

// A first line that itself begins with a byte-order mark would lose it to the reader, which
// takes a mark at the start of a file for the encoding's; one more mark in front keeps it.
void ProtectLeadingMark(QByteArray& out)
{
    if (out.startsWith("\xEF\xBB\xBF"))
        out.prepend("\xEF\xBB\xBF");
}

// A line's text with a leading U+FEFF kept: QString::fromUtf8 drops it, and the line would then
// match an address it differs from.
QString DecodeLine(QByteArrayView line)
{
    if (!line.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(line);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(line);
}

void Report(const EMailListProgress& progress, qint64 done, qint64 total)
{
    if (progress)
        progress(done, total);
}

// Lists are mostly plain ASCII, which most collators order one character at a time: then a line
// is ordered by its characters' ranks, byte by byte, without the collator's sort keys (the most
// of a large merge's time). Whether the collator does order so is checked, not assumed: every
// printable character must have a rank of its own, and all texts of up to two characters must
// come out in the collator's order (a contraction, an ignored character or a tailored letter
// shows there).
class AsciiOrder
{
public:
    static const AsciiOrder* For(const QLocale& locale, const QCollator& collator)
    {
        static QMutex lock;
        static QHash<QString, std::shared_ptr<const AsciiOrder>> known;
        const QMutexLocker locked(&lock);
        auto it = known.find(locale.name());
        if (it == known.end())
            it = known.insert(locale.name(), Make(locale, collator));
        return it->get();
    }

    // The rank of a byte of a line as its lower case; 0 when it is not printable ASCII.
    quint8 rankOfByte(char c) const
    {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 128)
            return 0;
        return m_rank[u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u];
    }

private:
    static std::shared_ptr<const AsciiOrder> Make(const QLocale& locale, const QCollator& collator)
    {
        // Locales whose lower case of I is not i.
        const QLocale::Language language = locale.language();
        if (language == QLocale::Turkish || language == QLocale::Azerbaijani ||
            language == QLocale::Lithuanian)
            return nullptr;
        QList<char16_t> chars;
        for (char16_t c = 0x20; c < 0x7F; ++c)
            if (c < u'A' || c > u'Z')
                chars << c;
        const auto text = [](char16_t c) { return QString(QChar(c)); };
        std::sort(chars.begin(), chars.end(),
                  [&](char16_t a, char16_t b) { return collator.compare(text(a), text(b)) < 0; });
        auto order = std::make_shared<AsciiOrder>();
        for (qsizetype i = 0; i < chars.size(); ++i) {
            if (i > 0 && collator.compare(text(chars[i - 1]), text(chars[i])) >= 0)
                return nullptr;
            order->m_rank[chars[i]] = quint8(i + 1);
        }
        // Every text of one or two characters, in rank order, must be in the collator's.
        QStringList texts;
        for (const char16_t a : std::as_const(chars)) {
            texts << text(a);
            for (const char16_t b : std::as_const(chars))
                texts << text(a) + text(b);
        }
        for (qsizetype i = 1; i < texts.size(); ++i)
            if (collator.compare(texts[i - 1], texts[i]) >= 0)
                return nullptr;
        return order;
    }

    quint8 m_rank[128] = {};
};

// Sorts row numbers by the rows' ranked texts, each `ranks[at[row]..at[row + 1])`; equal texts
// keep their order.
void SortByRanks(std::vector<qsizetype>& order, const quint8* ranks, const std::vector<size_t>& at)
{
    // The first sixteen ranks as two numbers settle most comparisons.
    struct Keyed
    {
        quint64 head[2];
        qsizetype row;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(order.size());
    for (const qsizetype row : order) {
        Keyed k{{0, 0}, row};
        const size_t from = at[size_t(row)], to = at[size_t(row) + 1];
        for (size_t i = 0; i < 16; ++i)
            k.head[i / 8] = (k.head[i / 8] << 8) | (from + i < to ? ranks[from + i] : 0u);
        keyed.push_back(k);
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.head[0] != b.head[0])
            return a.head[0] < b.head[0];
        if (a.head[1] != b.head[1])
            return a.head[1] < b.head[1];
        const size_t x = at[size_t(a.row)], xn = at[size_t(a.row) + 1] - x;
        const size_t y = at[size_t(b.row)], yn = at[size_t(b.row) + 1] - y;
        if (xn > 16 && yn > 16)
            if (const int c = std::memcmp(&ranks[x + 16], &ranks[y + 16], std::min(xn, yn) - 16))
                return c < 0;
        if (xn != yn)
            return xn < yn;
        return a.row < b.row;
    });
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].row;
}

// The merge when every line and every address is printable ASCII and the collator orders such
// text character by character: no line becomes a text of its own. A key's ranks stand for its
// lower case (every character has a rank of its own), so once sorted, an address equal to a line
// or to an earlier address sits right after it and is dropped there. Nothing when anything is
// not so; the general merge then runs.
std::optional<std::vector<qsizetype>> MergeAsciiOrder(const std::vector<QByteArrayView>& lines,
                                                      const QStringList& addresses,
                                                      const AsciiOrder& ascii,
                                                      std::vector<qsizetype>* added,
                                                      const EMailListProgress& progress)
{
    const qsizetype n = qsizetype(lines.size());
    const qsizetype m = addresses.size();
    const qint64 total = qint64(n) + m;
    size_t size = 0;
    for (const QByteArrayView line : lines)
        size += size_t(line.size());
    for (const QString& address : addresses)
        size += size_t(address.size());
    const auto ranks = std::make_unique_for_overwrite<quint8[]>(size);
    std::vector<size_t> at;
    at.reserve(size_t(n + m) + 1);
    at.push_back(0);
    size_t end = 0;
    for (qsizetype i = 0; i < n; ++i) {
        for (const char c : lines[size_t(i)]) {
            const quint8 rank = ascii.rankOfByte(c);
            if (!rank)
                return std::nullopt;
            ranks[end++] = rank;
        }
        at.push_back(end);
        if (i % kProgressStep == kProgressStep - 1)
            Report(progress, i + 1, total);
    }
    for (qsizetype i = 0; i < m; ++i) {
        for (const QChar c : addresses[i]) {
            const quint8 rank = c.unicode() < 128 ? ascii.rankOfByte(char(c.unicode())) : 0;
            if (!rank)
                return std::nullopt;
            ranks[end++] = rank;
        }
        at.push_back(end);
        added->push_back(i);
        Report(progress, n + i + 1, total);
    }

    std::vector<qsizetype> order(at.size() - 1);
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = qsizetype(i);
    SortByRanks(order, ranks.get(), at);
    const auto sameKey = [&](qsizetype a, qsizetype b) {
        const size_t an = at[size_t(a) + 1] - at[size_t(a)];
        return an == at[size_t(b) + 1] - at[size_t(b)] &&
               std::memcmp(&ranks[at[size_t(a)]], &ranks[at[size_t(b)]], an) == 0;
    };
    std::vector<qsizetype> kept;
    kept.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] < n || i == 0 || !sameKey(order[i - 1], order[i]))
            kept.push_back(order[i]);
    return kept;
}

} // namespace

bool IsEMailListFile(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive);
}

QByteArrayList SplitEMailListLines(const QByteArray& bytes)
{
    QByteArrayList out;
    const std::vector<QByteArrayView> views = LineViews(bytes);
    out.reserve(qsizetype(views.size()));
    for (const QByteArrayView v : views)
        out << v.toByteArray();
    return out;
}

QByteArray FormatEMailList(const QStringList& entries)
{
    QByteArray out;
    for (const QString& e : entries) {
        out += e.toUtf8();
        out += "\r\n";
    }
    ProtectLeadingMark(out);
    return out;
}

QByteArray MergeEMailList(const QByteArray& existing, const QStringList& addresses,
                          const EMailListProgress& progress)
{
    const std::vector<QByteArrayView> lines = LineViews(existing);
    const qsizetype n = qsizetype(lines.size());
    const qsizetype m = addresses.size();
    const qint64 total = qint64(n) + m;
    const QLocale locale;
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const AsciiOrder* const ascii = AsciiOrder::For(locale, collator);

    const auto write = [&](const std::vector<qsizetype>& order,
                           const std::vector<qsizetype>& added) {
        QByteArray out;
        out.reserve(existing.size() + 2 * n + m * 32);
        for (const qsizetype i : order) {
            if (i < n)
                out += lines[size_t(i)];
            else
                out += addresses[added[size_t(i - n)]].toUtf8();
            out += "\r\n";
        }
        ProtectLeadingMark(out);
        return out;
    };
    if (ascii) {
        std::vector<qsizetype> added;
        if (const auto order = MergeAsciiOrder(lines, addresses, *ascii, &added, progress))
            return write(*order, added);
    }

    // The first row of every distinct address (ignoring case); a key found among the file's
    // lines is dropped, so what stays are the addresses to add. One look-up per line or row.
    std::vector<QString> addressKeys;
    addressKeys.reserve(size_t(m));
    QHash<QString, qsizetype> firstRow;
    firstRow.reserve(m);
    for (qsizetype i = 0; i < m; ++i) {
        addressKeys.push_back(locale.toLower(addresses[i]));
        if (!firstRow.contains(addressKeys.back()))
            firstRow.insert(addressKeys.back(), i);
    }

    // Lower-cased texts sort case-insensitively under every collator, also the "C" one, whose
    // sort keys would otherwise keep letter case.
    std::vector<QString> keys;
    keys.reserve(size_t(n + m));
    for (qsizetype i = 0; i < n; ++i) {
        keys.push_back(locale.toLower(DecodeLine(lines[size_t(i)])));
        if (!firstRow.isEmpty())
            firstRow.remove(keys.back());
        if (i % kProgressStep == kProgressStep - 1)
            Report(progress, i + 1, total);
    }

    std::vector<qsizetype> added;
    for (qsizetype i = 0; i < m; ++i) {
        const auto it = firstRow.constFind(addressKeys[size_t(i)]);
        if (it != firstRow.cend() && it.value() == i) {
            added.push_back(i);
            keys.push_back(addressKeys[size_t(i)]);
        }
        Report(progress, n + i + 1, total);
    }

    // Equal keys keep their order: the file's lines first, then the added addresses.
    std::vector<qsizetype> order(keys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = qsizetype(i);
    // Not plain ASCII (or a collator that does not order it so): the collator's sort keys.
    std::vector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(keys.size());
    for (const QString& key : keys)
        sortKeys.push_back(collator.sortKey(key));
    std::stable_sort(order.begin(), order.end(), [&sortKeys](qsizetype a, qsizetype b) {
        return sortKeys[size_t(a)].compare(sortKeys[size_t(b)]) < 0;
    });

    return write(order, added);
}

void WriteEMailList(const QString& fileName, const QStringList& entries)
{
    QString error;
    if (!WriteFileAtomically(fileName, FormatEMailList(entries), &error))
        throw InOutError(fileName, error);
}

void MergeIntoEMailListFile(const QString& fileName, const QStringList& addresses,
                            const EMailListProgress& progress)
{
    // Lists of millions of addresses are read; a device or a pipe never is.
    QString error;
    const std::optional<QByteArray> existing = ReadRegularFile(fileName, kMaxListBytes, &error);
    if (!existing)
        throw InOutError(fileName, error);
    if (!WriteFileAtomically(fileName, MergeEMailList(*existing, addresses, progress), &error))
        throw InOutError(fileName, error);
}
