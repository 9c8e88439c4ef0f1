#pragma once

#include <QString>
#include <QStringView>
#include <QtGlobal>
#include <optional>
#include <span>

// File classes decided by a file's extension; Photo to Text coincide with the capture kinds of
// the same name.
enum FileClass : quint8
{
    fcOther = 0,
    fcPhoto = 1,
    fcMusic = 2,
    fcFlash = 3,
    fcText = 4,
    fcWebPage = 6,
};

// What a capture collects: whole pages, or one kind of content of every page.
enum class CaptureKind : quint8
{
    Photo = 1,
    Music = 2,
    Flash = 3,
    Text = 4,
    EMail = 5,
    WebPage = 7,
};

// Which open pages a capture visits.
enum class Scope : quint8
{
    AllPages,
    CurrentPage,
};

// Everything the program attaches to a capture kind, in one row per kind.
struct CaptureKindInfo
{
    CaptureKind kind;
    const char* folder;      // the collection subfolder the capture writes into
    const char* commandWord; // the capture command's word for it
    const char* menuItem;    // the tray menu's item (a language-file key); nullptr: none
    const char* menuCaption; // its English caption
    int menuImage;           // its picture in the menu's image list
    FileClass fileClass;     // files of this class dropped on the window go to `folder`
};

inline constexpr CaptureKindInfo kCaptureKinds[] = {
    {CaptureKind::WebPage, "WebPage", "page", nullptr, nullptr, 0, fcWebPage},
    {CaptureKind::Photo, "Photo", "photo", "m_SavePhoto", "Save All Photo", 7, fcPhoto},
    {CaptureKind::Flash, "Flash", "flash", "m_SaveFlash", "Save All Flash", 5, fcFlash},
    {CaptureKind::Music, "Music", "music", "m_SaveMusic", "Save All Music", 6, fcMusic},
    {CaptureKind::Text, "Text", "text", "m_SaveText", "Save All Text", 8, fcText},
    {CaptureKind::EMail, "EMail", "email", "m_SaveEMail", "Save All E-Mail", 4, fcOther},
};

inline constexpr std::span<const CaptureKindInfo> CaptureKinds()
{
    return kCaptureKinds;
}

inline constexpr const CaptureKindInfo& InfoOf(CaptureKind kind)
{
    for (const CaptureKindInfo& info : kCaptureKinds)
        if (info.kind == kind)
            return info;
    return kCaptureKinds[0];
}

// The collection subfolder a capture of this kind writes into.
inline QString FolderOf(CaptureKind kind)
{
    return QString::fromLatin1(InfoOf(kind).folder);
}

// The kind whose command word is `word`; nullopt for any other text.
inline std::optional<CaptureKind> CaptureKindFromWord(QStringView word)
{
    for (const CaptureKindInfo& info : kCaptureKinds)
        if (word == QLatin1String(info.commandWord))
            return info.kind;
    return std::nullopt;
}

// The kind whose files of this class are collected in its folder; nullopt for none.
inline std::optional<CaptureKind> CaptureKindOfClass(FileClass fileClass)
{
    if (fileClass == fcOther)
        return std::nullopt;
    for (const CaptureKindInfo& info : kCaptureKinds)
        if (info.fileClass == fileClass)
            return info.kind;
    return std::nullopt;
}
