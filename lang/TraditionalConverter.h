#pragma once

#include <QLibrary>
#include <QString>
#include <memory>

// Simplified Chinese into Traditional Chinese as Taiwan writes it, by OpenCC. The library and
// its phrase tables are loaded by the first conversion, not linked: only a run that shows
// Traditional Chinese needs them, and loading them costs every start otherwise. Without the
// library, or its tables, texts stay as they are and problem() says why.
class TraditionalConverter
{
public:
    // library: the OpenCC library's file name; the one the program was built with by default.
    explicit TraditionalConverter(const QString& library = DefaultLibrary());
    ~TraditionalConverter();
    TraditionalConverter(const TraditionalConverter&) = delete;
    TraditionalConverter& operator=(const TraditionalConverter&) = delete;

    static QString DefaultLibrary();
    // The converter the program shares, loaded at its first use.
    static const TraditionalConverter& Shared();

    // Text in Traditional Chinese; unchanged when the converter could not be loaded.
    QString convert(const QString& text) const;
    // Why the converter cannot convert (the library or its table did not load); empty when it
    // can. Loads it when that was not tried yet.
    QString problem() const;

private:
    void load() const;

    struct Api;
    mutable QLibrary m_library;
    mutable bool m_tried = false;
    mutable QString m_problem;
    mutable std::unique_ptr<Api> m_api;
    mutable void* m_handle = nullptr;
};
