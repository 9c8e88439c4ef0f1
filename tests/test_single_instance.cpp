#include "SingleInstance.h"
#include "TestWait.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <future>
#include <gtest/gtest.h>

namespace {

// A later start asks from its own thread: the running instance answers from its event loop,
// which the test keeps turning meanwhile.
std::future<bool> WakeFromAnotherStart(const QString& folder, int waitMs)
{
    return std::async(std::launch::async, [folder, waitMs] {
        SingleInstance later(QStringLiteral("Nimbril"), folder);
        return !later.tryAcquire() && later.wakeRunning(waitMs);
    });
}

bool Ready(const std::future<bool>& f)
{
    return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

TEST(SingleInstanceTest, ALaterStartWakesTheRunningOneEvenOverACrashedOnesSocket)
{
    QTemporaryDir dir;
    SingleInstance running(QStringLiteral("Nimbril"), dir.path());
    // A crashed instance left its socket file behind; it does not keep the next one deaf.
    QFile stale(running.socketPath());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    ASSERT_TRUE(running.tryAcquire());
    int wakes = 0;
    ASSERT_TRUE(running.listen([&wakes] { ++wakes; }));

    for (int start = 1; start <= 2; ++start) {
        std::future<bool> later = WakeFromAnotherStart(dir.path(), 10000);
        ASSERT_TRUE(spinUntil([&] { return Ready(later); }, 15000));
        EXPECT_TRUE(later.get());
        EXPECT_EQ(wakes, start);
    }
}

TEST(SingleInstanceTest, OnlyALiveHolderKeepsTheLockAndOneThatDiesLeavesNone)
{
    QTemporaryDir dir;
    const QString lock = SingleInstance(QStringLiteral("Nimbril"), dir.path()).lockPath();
    // Another process holds the lock; it is killed the way a crash ends it, with no clean-up.
    QProcess holder;
    holder.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("exec 9>\"$0\" && flock -n 9 && echo held && exec sleep 60"),
                  lock});
    ASSERT_TRUE(holder.waitForReadyRead(10000)) << holder.errorString().toStdString();
    {
        SingleInstance start(QStringLiteral("Nimbril"), dir.path());
        EXPECT_FALSE(start.tryAcquire());
        EXPECT_FALSE(start.listen([] {}));
    }
    holder.kill();
    ASSERT_TRUE(holder.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(lock));

    SingleInstance first(QStringLiteral("Nimbril"), dir.path());
    ASSERT_TRUE(first.tryAcquire());
    SingleInstance second(QStringLiteral("Nimbril"), dir.path());
    EXPECT_FALSE(second.tryAcquire());
}

TEST(SingleInstanceTest, ARunningInstanceThatDoesNotListenIsNoAnswer)
{
    QTemporaryDir dir;
    SingleInstance running(QStringLiteral("Nimbril"), dir.path());
    ASSERT_TRUE(running.tryAcquire());
    std::future<bool> later = WakeFromAnotherStart(dir.path(), 300);
    ASSERT_TRUE(spinUntil([&] { return Ready(later); }, 15000));
    EXPECT_FALSE(later.get());

    // A start without the lock never takes the socket's name.
    SingleInstance other(QStringLiteral("Nimbril"), dir.path());
    EXPECT_FALSE(other.listen([] {}));
}

} // namespace
