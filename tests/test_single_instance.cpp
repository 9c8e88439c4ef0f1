#include "SingleInstance.h"
#include "TestWait.h"

#include <QFile>
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
