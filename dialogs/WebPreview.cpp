// The web engine's part of the preview, built as a module of its own that the preview pane
// loads when it first shows a web page: the engine's libraries are large, and a program that
// never previews a page neither loads them nor starts the engine.
#include "WebPreviewPolicy.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QQuickWindow>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <optional>

// Qt's own: the context every OpenGL context of the program shares with. The engine needs one;
// a program sets it up at start, which would load the OpenGL drivers into every run of Nimbril,
// so the module sets it up when the engine is first needed.
Q_GUI_EXPORT QOpenGLContext* qt_gl_global_share_context();
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

// The engine draws with OpenGL where a context can be made, and in software elsewhere (a
// headless session).
void PrepareDrawing()
{
    if (qt_gl_global_share_context())
        return;
    auto* context = new QOpenGLContext(qApp);
    // The engine asks the shared context for its format even when it draws in software.
    qt_gl_set_global_share_context(context);
    if (context->create())
        return;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --disable-gpu");
}

// Turns away every request the policy does not allow, the page's own address included.
class OfflineOnly : public QWebEngineUrlRequestInterceptor
{
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (!PreviewMayLoad(info.requestUrl()))
            info.block(true);
    }
};

// Sets an environment variable until the end of the block: the engine reads its settings once,
// when it starts, and programs Nimbril opens later (a browser built on the same engine) must
// not inherit them.
class EnvironmentFor
{
public:
    EnvironmentFor(const char* name, const QByteArray& value)
        : m_name(name), m_was(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentFor()
    {
        if (m_was)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvironmentFor(const EnvironmentFor&) = delete;
    EnvironmentFor& operator=(const EnvironmentFor&) = delete;

private:
    const char* m_name;
    bool m_was;
    QByteArray m_old;
};

} // namespace

extern "C" {

// A web view for saved pages: its own profile that keeps nothing on disk, requests limited to
// the computer, no scripts. `failed(context)` is called when the engine's page process ends
// abnormally. The pane drives it through its meta-object ("url", loadFinished(bool)), so that
// nothing of the engine is linked into the program.
Q_DECL_EXPORT QWidget* NimbrilMakeWebPreview(QWidget* parent, void (*failed)(void*), void* context)
{
    EnvironmentFor flags("QTWEBENGINE_CHROMIUM_FLAGS",
                         PreviewEngineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
    std::optional<EnvironmentFor> sandbox;
    if (PreviewNeedsSandboxOff())
        sandbox.emplace("QTWEBENGINE_DISABLE_SANDBOX", "1");
    PrepareDrawing();

    auto* view = new QWebEngineView(parent);
    auto* profile = new QWebEngineProfile(); // no storage name: nothing is kept on disk
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setUrlRequestInterceptor(new OfflineOnly(profile));
    auto* page = new QWebEnginePage(profile, view);
    // The page goes first and its profile after it.
    profile->setParent(page);
    QWebEngineSettings* settings = page->settings();
    // A saved page is looked at, not run: its scripts would only try to fetch what is not here.
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    QObject::connect(page, &QWebEnginePage::renderProcessTerminated, view,
                     [failed, context](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                         if (status != QWebEnginePage::NormalTerminationStatus && failed)
                             failed(context);
                     });
    view->setPage(page);
    return view;
}
}
