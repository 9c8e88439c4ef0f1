#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// How the program compares, trims and reads text: ASCII letters without case, control
// characters at the ends, integers in the runtime's forms. Failure shows in the result.

// The ASCII letter in upper case; any other character as it is.
constexpr char16_t AsciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

// True when the texts are equal with ASCII letters compared without case.
bool AsciiEqualsIgnoreCase(QStringView a, QStringView b);

// The text without the characters of code 0 to 32 at both ends.
QString TrimControlChars(const QString& text);

// The first n UTF-16 code units, without cutting a character in two.
QString LeftChars(const QString& text, qsizetype n);

// True when Text equals one of List[0..HighIndex], ASCII letters compared without case.
bool TextInList(const QString& text, const QStringList& list, int highIndex);

// The runtime's string-to-integer conversion: leading blanks, a sign, then decimal digits or
// "$", "x", "0x" and hex digits; the whole text must be consumed and fit 32 bits.
bool StrToIntStrict(const QString& text, int* value);

// The decimal digits of a random integer from 0 to 2147483646, from the process-wide generator.
QString RandomDigits();
