#include "CaptureProgress.h"

#include <QCoreApplication>

void CaptureDisplays::beginPage(const QString& pageUrl, const QString& title)
{
    if (stopRequested && stopRequested())
        throw CaptureStopped();
    for (TextDisplay* display : {page, url, file})
        if (display)
            display->setText(QString());
    if (pageBar)
        pageBar->setPosition(0);
    if (page) {
        page->setText(title);
        page->repaint();
    }
    if (url) {
        url->setText(pageUrl);
        url->repaint();
    }
}

void CaptureDisplays::showFile(const QString& resourceUrl)
{
    if (file)
        file->setText(resourceUrl);
    pageStep();
}

void CaptureDisplays::pageStep()
{
    if (pageBar)
        pageBar->setPosition(pageBar->position() + 1);
}

void CaptureDisplays::pageWork(int from, qint64 done)
{
    constexpr double kHalfWay = 16.0 * 1024 * 1024;
    if (!pageBar || done <= 0)
        return;
    const int room = pageBar->max() - 1 - from;
    const int to = from + int(room * (double(done) / (double(done) + kHalfWay)));
    if (room > 0 && to > pageBar->position())
        pageBar->setPosition(to);
}

void CaptureDisplays::endPage()
{
    if (pageBar)
        pageBar->setPosition(pageBar->max());
}

void PumpEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}
