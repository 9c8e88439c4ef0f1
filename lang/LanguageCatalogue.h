#pragma once

#include "u_Store.h"

#include <QFont>
#include <QString>
#include <QStringList>

// The two fixed language names: Simplified Chinese has its own file, Traditional Chinese is
// derived from it.
extern const QString SimplifiedChineseName;  // "简体中文"
extern const QString TraditionalChineseName; // "繁體中文"

// The current language's text for a key ("Form_Main.m_Exit.Caption", "C_CloseIE"), read from
// AppDir + language + ".LAG" at every call; empty when the file or key is missing.
QString Translate(const QString& key);

// Simplified Chinese characters mapped to their traditional forms; other characters unchanged.
QString ToTraditionalChinese(const QString& text);

// The font that suits CurrentLanguage for the few labels that take it.
QFont LanguageFont();

// Every "*.LAG" file in AppDir by its name up to the last ".", then Traditional Chinese.
QStringList AvailableLanguages();

// AppDir + name + ".LAG".
QString LanguageFile(const QString& language);
