#pragma once

#include "Browser.h"
#include "Paths.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

class QMimeData;
class FolderCopyObserver;

// What a drop on the text button delivers, whichever program it came from.
struct TextDrop
{
    enum Format
    {
        Url,
        FileList,
        PlainText
    };
    Format format = PlainText;
    // URL: the URLs one per line; file list: the local paths one per line; text: the text.
    QString text;
    // For a URL: the link's title, which names the internet shortcut.
    QString description;
};

// A picture dropped on the photo button: a bitmap, or a vector picture kept in its own format.
struct PictureDrop
{
    QImage bitmap;
    QByteArray vector;
    bool isEmpty() const { return bitmap.isNull() && vector.isEmpty(); }
};

// The first usable format of a drag: a URL, then a file list, then plain text.
std::optional<TextDrop> DecodeTextDrop(const QMimeData* data);
std::optional<PictureDrop> DecodePictureDrop(const QMimeData* data);

// Stores what is dropped on the floating window into the collection and the Favorites folder.
// Folder copies report to the observer (may be null), which also answers before a file is
// replaced; links to what an open page shows are copied from the browser (none: null).
class Drops
{
public:
    Drops(const Paths& paths, FolderCopyObserver* observer, Browser* browser = nullptr);

    // Stores a drop on the text button: text as a new ".txt" file in "Text", files into the
    // folder of their kind, folders under "Files", links to pictures, sounds and movies an open
    // page shows as files, other links as internet shortcuts in the Favorites folder. Throws
    // InOutError when dropped text cannot be written.
    void StoreTextDrop(const TextDrop& drop);

    // Stores one existing file or folder.
    void StoreDroppedPath(const QString& path);

    // Writes folder + name + ".url" with the URL; folder empty means the Favorites folder. A
    // name that is no usable file name writes nothing.
    void CreateUrlShortcut(const QString& url, const QString& name, const QString& folder) const;

    // Saves a dropped picture as a new ".bmp" file in "Photo"; false when it could not be
    // written.
    bool StorePictureDrop(const PictureDrop& picture) const;

    // The collection's folder + "/" + random digits + ext, a name no file has yet.
    QString NewCollectionFileName(const QString& folder, const QString& ext) const;

private:
    const Paths& m_paths;
    FolderCopyObserver* m_observer;
    Browser* m_browser;
};
