// Times merging harvested addresses into a large e-mail list file: 100,000 addresses, one in ten
// already in the list in other letter case, into a 1,000,000-line file, in memory and through
// the file on disk.
#include "EMailList.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kFileLines = 1'000'000;
constexpr int kAddresses = 100'000;

QByteArray ExistingList()
{
    QByteArray bytes;
    bytes.reserve(qsizetype(kFileLines) * 28);
    for (int i = 0; i < kFileLines; ++i) {
        // Scattered, not already in order: the numbers run backwards through a prime stride.
        const qint64 n = (qint64(i) * 7919) % kFileLines;
        bytes += "member" + QByteArray::number(n) + "@list" + QByteArray::number(n % 97) +
                 ".example.org\r\n";
    }
    return bytes;
}

QStringList Harvested()
{
    QStringList addresses;
    addresses.reserve(kAddresses);
    for (int i = 0; i < kAddresses; ++i) {
        if (i % 10 == 0) {
            const int n = i * 9;
            addresses << QStringLiteral("MEMBER%1@LIST%2.EXAMPLE.ORG").arg(n).arg(n % 97);
        } else {
            addresses << QStringLiteral("visitor%1@site%2.example.net").arg(i).arg(i % 13);
        }
    }
    return addresses;
}

void BM_MergeInMemory(benchmark::State& state, const char* locale)
{
    QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
    const QByteArray existing = ExistingList();
    const QStringList addresses = Harvested();
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray merged = MergeEMailList(existing, addresses);
        size = merged.size();
        benchmark::DoNotOptimize(merged.constData());
    }
    state.counters["bytes_out"] = double(size);
    QLocale::setDefault(QLocale::system());
}
BENCHMARK_CAPTURE(BM_MergeInMemory, en_US, "en_US")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_MergeInMemory, C, "C")->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MergeIntoFile(benchmark::State& state)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.txt"));
    const QByteArray existing = ExistingList();
    const QStringList addresses = Harvested();
    for (auto _ : state) {
        state.PauseTiming();
        {
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(existing) != existing.size()) {
                state.SkipWithError("cannot write the list file");
                break;
            }
        }
        state.ResumeTiming();
        MergeIntoEMailListFile(path, addresses);
    }
    QLocale::setDefault(QLocale::system());
}
BENCHMARK(BM_MergeIntoFile)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
