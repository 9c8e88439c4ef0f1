#pragma once

#include "ProgressDisplays.h"

#include <QString>
#include <exception>
#include <functional>

// The progress window's displays as the engine drives them; any of them may be missing.
struct CaptureDisplays
{
    TextDisplay* page = nullptr; // the title of the page being captured
    TextDisplay* file = nullptr; // the address of the resource being written
    TextDisplay* url = nullptr;  // the address of the page being captured
    ProgressBar* pageBar = nullptr;
    ProgressBar* totalBar = nullptr;
    // Asked as each page starts and before each resource file: true when the user stopped the
    // capture.
    std::function<bool()> stopRequested = nullptr;

    // A page starts: the displays are cleared, then show its title and address at once. Throws
    // CaptureStopped instead when the user stopped the capture: what is saved stays.
    void beginPage(const QString& url, const QString& title);
    // One resource file is being written.
    void showFile(const QString& url);
    // One step of the page that is not a resource (its url.ini, its page file).
    void pageStep();
    // A long step of the page that began with the page bar at `from` has written `done` bytes so
    // far. How long it is nobody knows beforehand, so the bar goes ever more slowly towards its
    // end (halfway at 16 MiB) and keeps moving however much comes; only the page's end fills it.
    void pageWork(int from, qint64 done);
    // The page is done.
    void endPage();
};

// The user stopped the capture; every page before the one about to start is saved, the one
// being saved when the stop came with the files written until then. No NimbrilError, so that
// nothing on the way up takes it for a page's failure.
class CaptureStopped : public std::exception
{
public:
    const char* what() const noexcept override { return "the capture was stopped"; }
};

// Lets the user interface process pending events during a long capture.
void PumpEvents();

// Runs a final step on every way out of a block, also when an error passes through; an error of
// the final step itself then gives way to the one already on its way out.
template <typename F> class Finally
{
public:
    explicit Finally(F f) : m_f(std::move(f)) {}
    ~Finally() noexcept(false)
    {
        if (std::uncaught_exceptions() > m_pending) {
            try {
                m_f();
            } catch (...) {
            }
        } else {
            m_f();
        }
    }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    F m_f;
    int m_pending = std::uncaught_exceptions();
};
