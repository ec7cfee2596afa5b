#include "platform/QuitSignals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>

TEST(QuitSignals, EachQuitSignalAsksForAnOrderlyQuitOnTheEventLoop) {
    for (const int sent : {SIGTERM, SIGINT, SIGHUP}) {
        QuitSignals handler;
        int received = 0;
        QEventLoop loop;
        QObject::connect(&handler, &QuitSignals::quitRequested, &loop, [&](int signal) {
            received = signal;
            loop.quit();
        });
        // A safety net only: the pipe wakes the loop at once.
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        ASSERT_EQ(::raise(sent), 0);
        loop.exec();
        EXPECT_EQ(received, sent);
    }
}
