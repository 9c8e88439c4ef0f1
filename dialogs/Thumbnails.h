#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class QListWidget;
class QTimer;

// A picture read at most Box large, its proportions kept; a null image when the file is no
// picture Qt can read. Only the reduced picture is decoded where the format allows it.
QImage ReadThumbnail(const QString& path, QSize box);

// Gives the picture rows of a file list their thumbnails as icons, a few at a time while the
// event loop runs, so that a folder of thousands of photos lists at once and fills in after.
class ThumbnailFiller : public QObject
{
    Q_OBJECT
public:
    ThumbnailFiller(QListWidget* list, QSize box);

    // Forgets what was waiting and takes these rows of Folder's files (the list's rows then).
    void start(const QString& folder, const QList<int>& rows);
    bool busy() const;

private:
    void step();

    QPointer<QListWidget> m_list;
    QSize m_box;
    QString m_folder;
    QList<int> m_rows;
    QTimer* m_timer;
};
