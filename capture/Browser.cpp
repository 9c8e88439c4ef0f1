#include "Browser.h"

std::optional<QString> ElementData::attribute(const QString& name) const
{
    for (qsizetype i = 0; i + 1 < attributes.size(); i += 2)
        if (attributes[i].compare(name, Qt::CaseInsensitive) == 0)
            return attributes[i + 1];
    return std::nullopt;
}

QList<int> PageSnapshot::elementsTagged(const QString& tag) const
{
    QList<int> found;
    for (size_t i = 0; i < elements.size(); ++i)
        if (elements[i].tag.compare(tag, Qt::CaseInsensitive) == 0)
            found << int(i);
    return found;
}

std::shared_ptr<const PageSnapshot> PageSnapshot::frameNamed(const QString& name) const
{
    for (const FrameDocument& frame : frames)
        if (frame.name == name)
            return frame.document;
    return nullptr;
}
