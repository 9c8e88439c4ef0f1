#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// A text for the user carried as plain data: the language key that names it, its English wording
// and what fills its "%1", "%2", ... The libraries below the windows make and pass these without
// knowing any language; the window that shows one words it in the user's language. A message
// without a key is shown as it is (an address, a path, the system's own reason).
struct Message
{
    QString key;
    QString english;
    QList<Message> args;

    Message() = default;
    // Plain text: shown as it is in every language.
    Message(const QString& plain) : english(plain) {} // NOLINT(google-explicit-constructor)
    Message(const QString& key, const QString& english, const QList<Message>& args = {})
        : key(key), english(english), args(args)
    {}

    bool isEmpty() const { return key.isEmpty() && english.isEmpty(); }
    bool operator==(const Message& other) const = default;

    // The wording of a key in some language; empty where that language has none.
    using Wording = std::function<QString(const QString& key)>;
    // The text, each key worded by `wording` (in English where it gives none) and the arguments
    // filled in at once, so that a "%1" inside an argument (an address) stays as it is.
    QString text(const Wording& wording = nullptr) const;
};

// The texts of the messages, worded as Message::text words them.
QStringList Texts(const QList<Message>& messages, const Message::Wording& wording = nullptr);
