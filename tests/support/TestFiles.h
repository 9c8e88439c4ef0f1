#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small file helpers every test that writes into its temporary folder uses.

// Writes the bytes, creating missing folders; a failure is a test failure, and false:
//     ASSERT_TRUE(writeFile(path, bytes)); // where nothing after it makes sense without it
bool writeFile(const QString& path, const QByteArray& bytes);
// writeFile() of the text in UTF-8.
bool writeText(const QString& path, const QString& text);

// The file's bytes, or nothing when it cannot be read.
QByteArray readFile(const QString& path);

// Every file below a folder (hidden ones too), as paths relative to it, sorted.
QStringList filesBelow(const QString& root);
