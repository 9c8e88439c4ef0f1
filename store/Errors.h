#pragma once

#include <QString>
#include <stdexcept>

// Base of the few errors that end a command and reach the user's error display; the text is
// what the user sees.
class NimbrilError : public std::runtime_error
{
public:
    explicit NimbrilError(const QString& text)
        : std::runtime_error(text.toStdString()), m_text(text)
    {}
    const QString& text() const { return m_text; }

private:
    QString m_text;
};

// A failed call into the browser.
class SafecallError : public NimbrilError
{
public:
    SafecallError() : NimbrilError(QStringLiteral("Exception in safecall method")) {}
};

// A call the browser did not answer in time (a page busy in a script of its own, say).
class NoAnswerError : public SafecallError
{};

// A page the browser answers for but that cannot be read whole (it holds more than any page
// may); the capture goes on with the other pages.
class PageTooLargeError : public SafecallError
{};

// An initialisation file (Config.ini, registry.ini) that could not be written.
class IniWriteError : public NimbrilError
{
public:
    explicit IniWriteError(const QString& path)
        : NimbrilError(QStringLiteral("Unable to write to %1").arg(path))
    {}
};

// A text file that could not be read or written.
class InOutError : public NimbrilError
{
public:
    explicit InOutError(const QString& path, const QString& reason = QString())
        : NimbrilError(reason.isEmpty() ? QStringLiteral("I/O error: %1").arg(path)
                                        : QStringLiteral("I/O error: %1: %2").arg(path, reason))
    {}
};

// No browser could be reached: the user is told how to start one.
class BrowserUnreachableError : public NimbrilError
{
public:
    explicit BrowserUnreachableError(const QString& text) : NimbrilError(text) {}
};
