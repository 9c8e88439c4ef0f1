#include "Thumbnails.h"

#include <QIcon>
#include <QImageReader>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

namespace {

// Rows read per turn of the event loop: small enough that the window keeps answering.
constexpr int kRowsPerStep = 4;

} // namespace

QImage ReadThumbnail(const QString& path, QSize box)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > box.width() || size.height() > box.height()))
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return image;
    // Formats that cannot read reduced give the whole picture.
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

ThumbnailFiller::ThumbnailFiller(QListWidget* list, QSize box)
    : QObject(list), m_list(list), m_box(box), m_timer(new QTimer(this))
{
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &ThumbnailFiller::step);
}

void ThumbnailFiller::start(const QString& folder, const QList<int>& rows)
{
    m_folder = folder;
    m_rows = rows;
    if (m_rows.isEmpty())
        m_timer->stop();
    else
        m_timer->start();
}

bool ThumbnailFiller::busy() const
{
    return m_timer->isActive();
}

void ThumbnailFiller::step()
{
    for (int n = 0; n < kRowsPerStep && !m_rows.isEmpty(); ++n) {
        const int row = m_rows.takeFirst();
        QListWidgetItem* item = m_list ? m_list->item(row) : nullptr;
        if (!item)
            continue;
        const QImage image = ReadThumbnail(m_folder + u'/' + item->text(), m_box);
        if (!image.isNull())
            item->setIcon(QIcon(QPixmap::fromImage(image)));
    }
    if (m_rows.isEmpty())
        m_timer->stop();
}
