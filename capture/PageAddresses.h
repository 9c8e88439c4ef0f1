#pragma once

#include "Browser.h"

#include <QList>
#include <QString>
#include <QStringView>
#include <utility>

// The addresses a page's elements name, read as a browser reads them: against the document's base,
// and out of an image's list of candidates.

// The address the document's relative addresses resolve against: its first BASE element's web
// address, else its own.
QString DocumentBase(const PageSnapshot& doc);

// A relative address of any form (a path, "/root/x", "//host/x", "?query") resolved against the
// base; a web address as it is; empty when blank or when it does not resolve.
QString ResolveAddress(const QString& base, const QString& address);

// Whether the address, written in a page, would be read against the page's own location: not
// blank, no scheme of its own, and not a mere "#part" of the document.
bool IsRelativeAddress(const QString& address);

// The URL without its fragment, and the fragment with its "#" (empty when there is none).
std::pair<QString, QString> SplitFragment(const QString& url);

// One candidate of an image's srcset: its address and what it says of itself ("2x", "480w").
struct SrcsetCandidate
{
    QString address;
    QString descriptor;
};

// The candidates of a srcset attribute, read as a browser reads them (an address ends at a blank;
// a descriptor at a comma outside parentheses).
QList<SrcsetCandidate> ParseSrcset(QStringView srcset);

// A srcset attribute naming the candidates; blanks in an address are escaped so that it stays one.
QString ComposeSrcset(const QList<SrcsetCandidate>& candidates);
