#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

// A headless Chromium in a throw-away profile, ended with its whole process group when the
// object dies so that no browser outlives the test.
class ChromiumProcess
{
public:
    static constexpr int DefaultStartTimeoutMs = 30000;

    explicit ChromiumProcess(const QString& program = QStringLiteral("/usr/bin/chromium"));
    ~ChromiumProcess();
    ChromiumProcess(const ChromiumProcess&) = delete;
    ChromiumProcess& operator=(const ChromiumProcess&) = delete;

    // Starts the browser and waits for its DevToolsActivePort file. False, with failure() set,
    // when the program is missing, ends early, or does not get ready in time:
    //     if (!chromium.start())
    //         GTEST_SKIP() << chromium.failure().toStdString();
    bool start(int timeoutMs = DefaultStartTimeoutMs);
    // Switches added to the usual ones, for a browser set up differently (before start()).
    void setExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }
    // Ends the browser (the process group, then the main process) and waits for it.
    void stop();

    // Whether the program is installed at all: tests skip when it is not.
    bool isInstalled() const;
    QString failure() const { return m_failure; }

    int port() const { return m_port; }
    QUrl browserUrl() const { return m_browserUrl; } // ws://127.0.0.1:PORT/devtools/browser/ID
    QString profileFolder() const { return m_profile.path() + QStringLiteral("/profile"); }
    qint64 pid() const { return m_pid; }
    // What the browser wrote to stdout and stderr so far, for failure messages.
    QByteArray output();

private:
    QString m_program;
    QStringList m_extraArguments;
    QTemporaryDir m_profile; // holds profile/, home/, tmp/ and chromium.log
    QProcess m_process;
    qint64 m_pid = 0;
    int m_port = 0;
    QUrl m_browserUrl;
    QString m_failure;
};
