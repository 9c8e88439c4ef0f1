#include "EMailList.h"

#include "AtomicFile.h"
#include "Errors.h"
#include "FileCopy.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QStringDecoder>
#include <algorithm>
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
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(line);
}

void Report(const EMailListProgress& progress, qint64 done, qint64 total)
{
    if (progress)
        progress(done, total);
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
    std::vector<QCollatorSortKey> sortKeys;
    sortKeys.reserve(size_t(n + m));
    for (qsizetype i = 0; i < n; ++i) {
        const QString key = locale.toLower(DecodeLine(lines[size_t(i)]));
        if (!firstRow.isEmpty())
            firstRow.remove(key);
        sortKeys.push_back(collator.sortKey(key));
        if (i % kProgressStep == kProgressStep - 1)
            Report(progress, i + 1, total);
    }

    std::vector<qsizetype> added;
    for (qsizetype i = 0; i < m; ++i) {
        const auto it = firstRow.constFind(addressKeys[size_t(i)]);
        if (it != firstRow.cend() && it.value() == i) {
            added.push_back(i);
            sortKeys.push_back(collator.sortKey(addressKeys[size_t(i)]));
        }
        Report(progress, n + i + 1, total);
    }

    // Equal keys keep their order: the file's lines first, then the added addresses.
    std::vector<qsizetype> order(sortKeys.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = qsizetype(i);
    std::stable_sort(order.begin(), order.end(), [&sortKeys](qsizetype a, qsizetype b) {
        return sortKeys[size_t(a)].compare(sortKeys[size_t(b)]) < 0;
    });

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
