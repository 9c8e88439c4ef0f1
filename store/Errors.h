#pragma once

#include "Message.h"

#include <QString>
#include <stdexcept>

// Base of the few errors that end a command and reach the user's error display; the message is
// what the user sees, worded in the user's language where it is shown.
class NimbrilError : public std::runtime_error
{
public:
    explicit NimbrilError(const Message& message)
        : std::runtime_error(message.text().toStdString()), m_message(message),
          m_text(message.text())
    {}
    // In English, as a terminal or a log shows it.
    const QString& text() const { return m_text; }
    const Message& message() const { return m_message; }

private:
    Message m_message;
    QString m_text;
};

// A failed call into the browser.
class SafecallError : public NimbrilError
{
public:
    SafecallError()
        : NimbrilError(
              {QStringLiteral("C_SafecallFailed"), QStringLiteral("Exception in safecall method")})
    {}
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
        : NimbrilError(
              {QStringLiteral("C_UnableToWrite"), QStringLiteral("Unable to write to %1"), {path}})
    {}
};

// A text file that could not be read or written.
class InOutError : public NimbrilError
{
public:
    explicit InOutError(const QString& path, const QString& reason = QString())
        : NimbrilError(
              reason.isEmpty()
                  ? Message(QStringLiteral("C_IOError"), QStringLiteral("I/O error: %1"), {path})
                  : Message(QStringLiteral("C_IOErrorWhy"), QStringLiteral("I/O error: %1: %2"),
                            {path, reason}))
    {}
};

// No browser could be reached: the user is told how to start one.
class BrowserUnreachableError : public NimbrilError
{
public:
    explicit BrowserUnreachableError(const Message& message) : NimbrilError(message) {}
};
