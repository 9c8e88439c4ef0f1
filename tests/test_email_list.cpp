#include "EMailList.h"
#include "Errors.h"
#include "TestFiles.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Runs a test under another default locale and puts the old one back afterwards.
class LocaleScope
{
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(m_old); }

private:
    QLocale m_old;
};

TEST(IsEMailListFile, OnlyTheTxtExtensionInAnyLetterCase)
{
    const struct
    {
        const char* name;
        bool expected;
    } cases[] = {
        {"/home/u/NimbrilApp/EMail/list.txt", true},
        {"/tmp/LIST.TXT", true},
        {"/tmp/list.Txt", true},
        {"/tmp/.txt", true},
        {"/tmp/list.csv", false},
        {"/tmp/list.txt.bak", false},
        {"/tmp/list", false},
        {"/tmp/listtxt", false},
        {"/tmp/list.emx", false},
        {"/tmp/dir.txt/list", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsEMailListFile(QString::fromUtf8(c.name)), c.expected) << c.name;
}

TEST(SplitEMailListLines, LineEndsAtCrLfOrBothAndAFinalBreakAddsNothing)
{
    const struct
    {
        QByteArray bytes;
        QByteArrayList lines;
    } cases[] = {
        {"", {}},
        {"a@x.org", {"a@x.org"}},
        {"a@x.org\r\n", {"a@x.org"}},
        {"a@x.org\r\nb@x.org", {"a@x.org", "b@x.org"}},
        {"a\nb\rc\r\n", {"a", "b", "c"}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n\n", {"", ""}},
        {"a\n\r", {"a", ""}},
        {" a@x.org \t\r\n", {" a@x.org \t"}},
        {"\xEF\xBB\xBF"
         "a@x.org\r\n",
         {"a@x.org"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitEMailListLines(c.bytes), c.lines) << c.bytes.toStdString();
}

TEST(FormatEMailList, EveryEntryEndsWithCrLfInUtf8WithoutMark)
{
    EXPECT_EQ(FormatEMailList({}), QByteArray());
    EXPECT_EQ(FormatEMailList({"a@x.org"}), QByteArray("a@x.org\r\n"));
    EXPECT_EQ(FormatEMailList({"b@x.org", "", "jürgen@straße.de"}),
              QByteArray("b@x.org\r\n\r\nj\xC3\xBCrgen@stra\xC3\x9F"
                         "e.de\r\n"));
}

TEST(MergeEMailList, KeepsOldLinesAddsMissingAddressesAndSortsIgnoringCase)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    const struct
    {
        const char* what;
        QByteArray existing;
        QStringList addresses;
        QByteArray expected;
    } cases[] = {
        {"an address in other letter case is not added again",
         "zed@x.org\r\nBob@Example.com\r\n",
         {"alice@x.org", "bob@example.COM", "carol@x.org"},
         "alice@x.org\r\nBob@Example.com\r\ncarol@x.org\r\nzed@x.org\r\n"},
        {"an empty file takes the sorted addresses",
         "",
         {"b@x.org", "A@x.org"},
         "A@x.org\r\nb@x.org\r\n"},
        {"nothing to add still sorts and ends every line",
         "b@x.org\na@x.org",
         {},
         "a@x.org\r\nb@x.org\r\n"},
        {"duplicates and blank lines of the file stay, blank lines first",
         "b@x.org\r\n\r\na@x.org\r\nA@X.ORG\r\na@x.org\r\n",
         {"c@x.org"},
         "\r\na@x.org\r\nA@X.ORG\r\na@x.org\r\nb@x.org\r\nc@x.org\r\n"},
        {"an address that differs only in case from one added before is added once",
         "",
         {"new@x.org", "NEW@x.org", "New@X.org"},
         "new@x.org\r\n"},
        {"lines are kept as they are, spaces included",
         " a@x.org\r\nc@x.org \r\n",
         {"a@x.org"},
         " a@x.org\r\na@x.org\r\nc@x.org \r\n"},
        {"letters beyond ASCII compare without case",
         "ÉLODIE@x.fr\r\n",
         {"élodie@x.fr", "Ærø@x.dk"},
         "Ærø@x.dk\r\nÉLODIE@x.fr\r\n"},
        {"the locale's order, not the code points",
         "frank@x.org\r\nzoe@x.org\r\n",
         {"émile@x.org", "Eve@x.org"},
         "émile@x.org\r\nEve@x.org\r\nfrank@x.org\r\nzoe@x.org\r\n"},
        {"a mark before the first line does not make it a different line",
         "\xEF\xBB\xBF"
         "a@x.org\r\n",
         {"A@x.org"},
         "a@x.org\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MergeEMailList(c.existing, c.addresses), c.expected) << c.what;
}

TEST(MergeEMailList, LinesThatAreNotUtf8SurviveByteForByte)
{
    // A list written in a legacy single-byte encoding: Latin-1 "é" is not valid UTF-8.
    const QByteArray latin1Line("ren\xE9@x.fr");
    const QByteArray merged = MergeEMailList(latin1Line + "\r\n", {"zoe@x.org"});
    EXPECT_EQ(merged, latin1Line + "\r\nzoe@x.org\r\n");
}

TEST(MergeEMailList, IgnoresCaseByTheUserLocaleRules)
{
    // In Turkish the capital of dotless "ı" is "I", so "ILKER" and "ılker" are one address there
    // and two elsewhere.
    const QByteArray existing("ILKER@x.tr\r\n");
    {
        const LocaleScope turkish(QLocale(QLocale::Turkish, QLocale::Turkey));
        EXPECT_EQ(MergeEMailList(existing, {QStringLiteral("ılker@x.tr")}), existing);
    }
    {
        const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(MergeEMailList(existing, {QStringLiteral("ılker@x.tr")}).count("\r\n"), 2);
    }
}

TEST(MergeEMailList, SortsIgnoringCaseAlsoUnderTheCLocale)
{
    const LocaleScope c(QLocale::c());
    EXPECT_EQ(MergeEMailList("b@x.org\r\nC@x.org\r\n", {"a@x.org", "D@x.org"}),
              QByteArray("a@x.org\r\nb@x.org\r\nC@x.org\r\nD@x.org\r\n"));
}

// Plain ASCII lists are ordered without the collator's sort keys; the order must be the
// collator's all the same, punctuation, digits, spaces and letter case included, and a locale
// that orders letters its own way ("ch" after "h" in Czech) must keep its order.
TEST(MergeEMailList, PlainAsciiListsComeOutInTheCollatorsOrder)
{
    const QByteArray alphabet = "abcXYZ019 ._-+@'~!#$%&*/=?^`{|}";
    QRandomGenerator random(42);
    QByteArrayList lines;
    for (int i = 0; i < 3000; ++i) {
        QByteArray line;
        for (int n = int(random.bounded(1, 24)); n > 0; --n)
            line += alphabet[random.bounded(alphabet.size())];
        lines << line;
    }
    QByteArray existing;
    for (const QByteArray& line : lines)
        existing += line + "\r\n";
    for (const QLocale& locale : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c(),
                                  QLocale(QLocale::German, QLocale::Germany)}) {
        const LocaleScope scope(locale);
        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QByteArrayList expected = lines;
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
            return collator.compare(locale.toLower(QString::fromLatin1(a)),
                                    locale.toLower(QString::fromLatin1(b))) < 0;
        });
        EXPECT_EQ(MergeEMailList(existing, {}), expected.join("\r\n") + "\r\n")
            << locale.name().toStdString();
    }
    {
        // Added addresses: one already there in other letters is dropped, one given twice is
        // added once, and where keys are equal the file's line comes first.
        const LocaleScope scope(QLocale(QLocale::English, QLocale::UnitedStates));
        const QStringList addresses = {QString::fromLatin1(lines[7].toUpper()), "new@x.org",
                                       "NEW@x.org", QString::fromLatin1(lines[1] + "!")};
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QByteArrayList expected = lines;
        expected << "new@x.org" << lines[1] + "!";
        std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
            return collator.compare(QString::fromLatin1(a).toLower(),
                                    QString::fromLatin1(b).toLower()) < 0;
        });
        EXPECT_EQ(MergeEMailList(existing, addresses), expected.join("\r\n") + "\r\n");
    }
    const LocaleScope czech(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    EXPECT_EQ(MergeEMailList("ch@x.cz\r\ni@x.cz\r\nh@x.cz\r\n", {}),
              QByteArray("h@x.cz\r\nch@x.cz\r\ni@x.cz\r\n"));
}

TEST(MergeEMailList, ReportsProgressUpToTheTotal)
{
    QByteArray existing;
    for (int i = 0; i < 3000; ++i)
        existing += "user" + QByteArray::number(i) + "@x.org\r\n";
    QStringList addresses;
    for (int i = 0; i < 50; ++i)
        addresses << QStringLiteral("new%1@x.org").arg(i);
    qint64 last = -1, total = 0;
    bool rising = true;
    MergeEMailList(existing, addresses, [&](qint64 done, qint64 t) {
        rising = rising && done > last && done <= t;
        last = done;
        total = t;
    });
    EXPECT_TRUE(rising);
    EXPECT_EQ(total, 3050);
    EXPECT_EQ(last, total);
}

class EMailListFile : public ::testing::Test
{
protected:
    QString path(const char* name) const { return tmp.filePath(QString::fromUtf8(name)); }
    QTemporaryDir tmp;
};

TEST_F(EMailListFile, WriteCreatesAndReplacesTheFile)
{
    WriteEMailList(path("new.txt"), {"a@x.org", "c@x.org"});
    EXPECT_EQ(readFile(path("new.txt")), QByteArray("a@x.org\r\nc@x.org\r\n"));

    writeFile(path("old.emx"), "something else entirely\r\nand more\r\n");
    WriteEMailList(path("old.emx"), {"b@x.org"});
    EXPECT_EQ(readFile(path("old.emx")), QByteArray("b@x.org\r\n"));
}

TEST_F(EMailListFile, FailedWriteRaisesAnInOutErrorAndLeavesNoTrace)
{
    EXPECT_THROW(WriteEMailList(path("missing/new.txt"), {"a@x.org"}), InOutError);
    EXPECT_FALSE(QFileInfo::exists(path("missing")));

    // A folder in the way is not replaced.
    QDir(tmp.path()).mkdir(QStringLiteral("folder.txt"));
    writeFile(path("folder.txt/keep"), "kept");
    EXPECT_THROW(WriteEMailList(path("folder.txt"), {"a@x.org"}), InOutError);
    EXPECT_EQ(readFile(path("folder.txt/keep")), QByteArray("kept"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"folder.txt"});
}

TEST_F(EMailListFile, MergeReplacesTheFileWithTheMergedList)
{
    const LocaleScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    writeFile(path("list.TXT"), "zed@x.org\nBob@Example.com");
    MergeIntoEMailListFile(path("list.TXT"), {"alice@x.org", "bob@example.com"});
    EXPECT_EQ(readFile(path("list.TXT")),
              QByteArray("alice@x.org\r\nBob@Example.com\r\nzed@x.org\r\n"));
}

TEST_F(EMailListFile, MergeIntoWhatCannotBeReadRaisesAnInOutError)
{
    EXPECT_THROW(MergeIntoEMailListFile(path("absent.txt"), {"a@x.org"}), InOutError);
    EXPECT_FALSE(QFileInfo::exists(path("absent.txt")));

    QDir(tmp.path()).mkdir(QStringLiteral("folder.txt"));
    EXPECT_THROW(MergeIntoEMailListFile(path("folder.txt"), {"a@x.org"}), InOutError);
    EXPECT_TRUE(QFileInfo(path("folder.txt")).isDir());
}

} // namespace
