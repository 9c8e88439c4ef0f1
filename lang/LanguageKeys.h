#pragma once

#include <QStringList>

// The list of every text key the program looks up, in the order of the shipped language files,
// which a test checks both shipped files against.
const QStringList& AllLanguageKeys();
