#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <functional>
#include <optional>

// The addresses a style sheet names (fonts, pictures, imported sheets), read the way a browser
// tokenises the sheet, and the same sheet naming other addresses: what a copy of a sheet needs
// so that it loads its resources from beside it.

// One address a sheet names: a url(...) token, the string of an @import, or a string inside
// image-set(...).
struct SheetAddress
{
    qsizetype start = 0;  // where the token begins in the text
    qsizetype length = 0; // the whole token: "url( ... )" or the string with its quotes
    QString address;      // escapes undone, blanks around it removed
    bool import = false;  // named by @import
    bool urlToken = true; // url(...), else a quoted string
};

// The addresses the text names, in order. Comments name nothing, nor do strings other than an
// @import's or an image-set's; an empty address, an inline one (data:) and one that names a part
// of the document itself (#id) are left out.
QList<SheetAddress> SheetAddresses(QStringView css);

// The text with each address for which `replace` gives a new one written as that one (a url
// token as url("..."), a string as "...", escaped where CSS needs it); everything else stays as
// it was, character for character.
QString
ReplaceSheetAddresses(QStringView css,
                      const std::function<std::optional<QString>(const SheetAddress&)>& replace);
