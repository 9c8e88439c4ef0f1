#include "ChromiumProcess.h"

#include "CdpProtocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

ChromiumProcess::ChromiumProcess(const QString& program) : m_program(program) {}

ChromiumProcess::~ChromiumProcess()
{
    stop();
}

bool ChromiumProcess::isInstalled() const
{
    return QFileInfo(m_program).isExecutable();
}

bool ChromiumProcess::start(int timeoutMs)
{
    if (!isInstalled()) {
        m_failure = QStringLiteral("Chromium is not installed at %1").arg(m_program);
        return false;
    }
    if (!m_profile.isValid()) {
        m_failure = QStringLiteral("no temporary folder: %1").arg(m_profile.errorString());
        return false;
    }
    const QString root = m_profile.path();
    const QString userData = profileFolder();
    QDir().mkpath(userData);
    QDir().mkpath(root + QStringLiteral("/home"));
    QDir().mkpath(root + QStringLiteral("/tmp"));

    // The browser and its launcher script stay out of the real home folder, and the files a
    // killed browser leaves in the temporary folder go away with the profile.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), root + QStringLiteral("/tmp"));
    env.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/home/.cache"));
    m_process.setProcessEnvironment(env);
    // A file rather than a pipe: nobody drains a pipe while a test waits, and a full pipe
    // would stall the browser.
    m_process.setStandardOutputFile(root + QStringLiteral("/chromium.log"));
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    // Its own process group, so that stop() reaches the renderers and helpers too; and it dies
    // with the test process even when the test crashes before stop().
    m_process.setChildProcessModifier([] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    const QStringList arguments = QStringList{QStringLiteral("--headless"),
                                              QStringLiteral("--no-sandbox"),
                                              QStringLiteral("--disable-gpu"),
                                              QStringLiteral("--disable-quic"),
                                              QStringLiteral("--no-first-run"),
                                              QStringLiteral("--disable-background-networking"),
                                              QStringLiteral("--disable-component-update"),
                                              QStringLiteral("--disable-sync"),
                                              QStringLiteral("--remote-debugging-port=0"),
                                              QStringLiteral("--user-data-dir=") + userData} +
                                  m_extraArguments + QStringList{QStringLiteral("about:blank")};
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_failure =
            QStringLiteral("could not start %1: %2").arg(m_program, m_process.errorString());
        return false;
    }
    m_pid = m_process.processId();

    const QString portFile = userData + QStringLiteral("/DevToolsActivePort");
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        // Doubles as the poll interval and notices a browser that ended early.
        if (m_process.waitForFinished(50)) {
            m_failure = QStringLiteral("Chromium ended early (exit code %1): %2")
                            .arg(m_process.exitCode())
                            .arg(QString::fromUtf8(output().right(2000)));
            return false;
        }
        const std::optional<Cdp::ActivePort> ap =
            Cdp::parseActivePort(QString::fromUtf8(readFile(portFile)));
        if (ap) {
            m_port = ap->port;
            m_browserUrl = Cdp::activePortUrl(*ap);
            return true;
        }
    }
    m_failure = QStringLiteral("Chromium wrote no DevToolsActivePort within %1 ms: %2")
                    .arg(timeoutMs)
                    .arg(QString::fromUtf8(output().right(2000)));
    stop();
    return false;
}

void ChromiumProcess::stop()
{
    if (m_pid > 0 && m_process.state() != QProcess::NotRunning) {
        // The main process is the group leader and stays a zombie until waitForFinished()
        // reaps it, so its id cannot name another group here.
        ::kill(-static_cast<pid_t>(m_pid), SIGKILL);
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    m_pid = 0;
    m_port = 0;
    m_browserUrl.clear();
}

QByteArray ChromiumProcess::output()
{
    return readFile(m_profile.path() + QStringLiteral("/chromium.log"));
}
