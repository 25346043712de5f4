#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <functional>

namespace vistrale::test {

// Polls `condition` until it holds or `timeoutMs` passed, processing Qt events (socket
// notifiers, queued calls, timers) in between. True when the condition held.
inline bool waitUntil(std::function<bool()> condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        if (QCoreApplication::instance()) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
        } else {
            QThread::msleep(10);
        }
    }
    return true;
}

} // namespace vistrale::test
