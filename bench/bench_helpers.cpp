// Times the language look-up (a language file read and 29 keys, as the tray menu applies them after
// a change of language) and
// the URL and file helpers the resource passes call once per resource.
#include "FileNames.h"
#include "LanguageCatalogue.h"
#include "LanguageKeys.h"
#include "ResourceFiles.h"
#include "WebAddress.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

void BM_TranslateMenu29Keys(benchmark::State& state, const char* language)
{
    LanguageCatalogue catalogue(QStringLiteral(NIMBRIL_PROGRAM_DIR "/"));
    const QString name = QString::fromUtf8(language);
    QStringList keys;
    for (const QString& k : AllLanguageKeys())
        if (k.startsWith(QLatin1String("Form_Main.")))
            keys << k;
    for (auto _ : state) {
        catalogue.setLanguage(name);
        for (const QString& k : keys)
            benchmark::DoNotOptimize(catalogue.text(k));
    }
    state.counters["keys"] = double(keys.size());
}
BENCHMARK_CAPTURE(BM_TranslateMenu29Keys, English, "English")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_TranslateMenu29Keys, Traditional, "繁體中文")->Unit(benchmark::kMicrosecond);

void BM_RelativeResourcePath(benchmark::State& state)
{
    const QString page = QStringLiteral("http://news.example.test/world/2026/12/story.htm");
    const QString res = QStringLiteral("http://news.example.test/world/2026/img/photo-0042.jpg");
    for (auto _ : state)
        benchmark::DoNotOptimize(RelativeResourcePath(page, res));
}
BENCHMARK(BM_RelativeResourcePath);

void BM_CombineUrl(benchmark::State& state)
{
    const QString page = QStringLiteral("http://news.example.test/world/2026/12/story.htm");
    for (auto _ : state)
        benchmark::DoNotOptimize(CombineUrl(page, QStringLiteral("../img/photo-0042.jpg")));
}
BENCHMARK(BM_CombineUrl);

void BM_CleanFileName(benchmark::State& state)
{
    const QString title = QStringLiteral("Daily News: \"World\" <today> | 2026/12/08 — 新闻");
    for (auto _ : state)
        benchmark::DoNotOptimize(CleanFileName(title));
}
BENCHMARK(BM_CleanFileName);

void BM_ClassifyFile(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.xpl"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.close();
    for (auto _ : state)
        benchmark::DoNotOptimize(ClassifyFile(path));
}
BENCHMARK(BM_ClassifyFile);

// Writing an already collected 20 kB resource again: the size and byte comparison decide.
void BM_WriteResourceAlreadyThere(benchmark::State& state)
{
    QTemporaryDir dir;
    const QByteArray bytes(20000, 'x');
    const QString target = dir.filePath(QStringLiteral("root/p.files/img/x.jpg"));
    WriteResourceFile(bytes, target);
    for (auto _ : state)
        WriteResourceFile(bytes, target);
}
BENCHMARK(BM_WriteResourceAlreadyThere)->Unit(benchmark::kMicrosecond);

} // namespace
