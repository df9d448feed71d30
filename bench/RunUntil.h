// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

// Runs the event loop until done holds or ms have passed; true when done
// holds. QTest::qWaitFor sleeps between its polls, which a benchmark would
// count against every round trip. Timers of its own, not single shots left
// pending after the loop is gone (a memory figure would count every one).
inline bool runUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    poll.start(1);
    loop.exec();
    return done();
}
