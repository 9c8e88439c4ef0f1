#include "Message.h"

QString Message::text(const Wording& wording) const
{
    QString pattern = key.isEmpty() || !wording ? QString() : wording(key);
    if (pattern.isEmpty())
        pattern = english;
    if (args.isEmpty())
        return pattern;
    QString out;
    out.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        int number = 0;
        qsizetype end = i + 1;
        while (pattern.at(i) == u'%' && end < pattern.size() && end - i <= 2 &&
               pattern.at(end).isDigit())
            number = number * 10 + pattern.at(end++).digitValue();
        if (number >= 1 && number <= args.size()) {
            out += args.at(number - 1).text(wording);
            i = end - 1;
        } else {
            out += pattern.at(i);
        }
    }
    return out;
}

QStringList Texts(const QList<Message>& messages, const Message::Wording& wording)
{
    QStringList texts;
    texts.reserve(messages.size());
    for (const Message& message : messages)
        texts << message.text(wording);
    return texts;
}
