// Replays every committed fuzz input (seeds and the findings kept as regressions) through the
// same target bodies the fuzzer drives, so a fixed fault that comes back fails the normal run.
#include "EMailList.h"
#include "FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

const QString kCorpus = QStringLiteral(NIMBRIL_SOURCE_DIR "/fuzz/corpus/");

QByteArray ReadCorpusFile(const QString& target, const QString& name)
{
    QFile f(kCorpus + target + u'/' + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int RunTarget(const char* target, const QByteArray& bytes)
{
    return FuzzTargetByName(target)(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                    static_cast<size_t>(bytes.size()));
}

class FuzzCorpus : public ::testing::TestWithParam<const char*>
{};

} // namespace

TEST_P(FuzzCorpus, EveryKeptInputPasses)
{
    const QString target = QString::fromLatin1(GetParam());
    ASSERT_NE(FuzzTargetByName(GetParam()), nullptr);
    const QStringList files =
        QDir(kCorpus + target).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << "no corpus for " << qPrintable(target);
    for (const QString& name : files) {
        SCOPED_TRACE(qPrintable(target + u'/' + name));
        // A broken property aborts the process; reaching the end means every input passed.
        EXPECT_EQ(RunTarget(GetParam(), ReadCorpusFile(target, name)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus,
                         ::testing::Values("ini", "palette", "language", "email", "cachecopy",
                                           "cdp", "diskcache", "stylesheet"));

TEST(FuzzTargets, UnknownNameHasNoTarget)
{
    EXPECT_EQ(FuzzTargetByName("nothing"), nullptr);
}

// ---- findings kept as regressions ------------------------------------------------------------

// A line that begins with a byte-order mark and is sorted to the top must not lose the mark to
// the next reading, which takes a mark at the start of the file for the encoding's.
TEST(FuzzFindings, EMailMergeKeepsAMarkThatBeginsALaterLine)
{
    const QByteArray existing = "b@example.com\r\n\xEF\xBB\xBF"
                                "a@example.com\r\n";
    const QByteArray merged = MergeEMailList(existing, {QStringLiteral("c@example.com")});
    QByteArrayList lines = SplitEMailListLines(merged);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, QByteArrayList({"b@example.com", "c@example.com",
                                     "\xEF\xBB\xBF"
                                     "a@example.com"}));
    EXPECT_EQ(SplitEMailListLines(FormatEMailList({QChar(0xFEFF) + QStringLiteral("x@y")})),
              QByteArrayList({"\xEF\xBB\xBFx@y"}));
    EXPECT_EQ(RunTarget("email", ReadCorpusFile(QStringLiteral("email"),
                                                QStringLiteral("crash-mark-begins-later-line"))),
              0);
}

// An address that begins with U+FEFF is the same as the line written for it, so merging it a
// second time adds nothing.
TEST(FuzzFindings, EMailMergeKnowsALineThatBeginsWithAMark)
{
    const QStringList addresses{QChar(0xFEFF) + QStringLiteral("x@y")};
    const QByteArray once = MergeEMailList("a@b\r\n", addresses);
    EXPECT_EQ(SplitEMailListLines(once).size(), 2);
    EXPECT_EQ(MergeEMailList(once, addresses), once);
    EXPECT_EQ(
        RunTarget("email", ReadCorpusFile(QStringLiteral("email"),
                                          QStringLiteral("crash-address-starting-with-mark"))),
        0);
}
