#pragma once
// How long the window takes to act on a click while it is busy: a thread wakes the event loop
// through a file descriptor, the way the X server's mouse events arrive, and each wake-up runs an
// action and notes the ms from the wake-up being written to the action's end.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class CWaker {
public:
    using Clock = std::chrono::steady_clock;

    CWaker(QObject* pContext, std::function<void()> fnAct, int nTimes, int nEveryMs)
        : m_fnAct(std::move(fnAct))
    {
        if (pipe(m_anPipe) != 0)
            return;
        m_pNotifier = std::make_unique<QSocketNotifier>(m_anPipe[0], QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, pContext, [this] {
            char c = 0;
            if (read(m_anPipe[0], &c, 1) != 1)
                return;
            m_fnAct();
            m_vecMs.push_back(std::chrono::duration<double, std::milli>(
                Clock::now() - Clock::time_point(Clock::duration(m_nSentAt.load())))
                                  .count());
        });
        m_thread = std::thread([this, nTimes, nEveryMs] {
            for (int n = 0; n < nTimes && !m_bStop; ++n) {
                std::this_thread::sleep_for(std::chrono::milliseconds(nEveryMs));
                m_nSentAt = Clock::now().time_since_epoch().count();
                if (write(m_anPipe[1], "w", 1) != 1)
                    break;
            }
        });
    }
    ~CWaker()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
        m_pNotifier.reset();
        close(m_anPipe[0]);
        close(m_anPipe[1]);
    }
    CWaker(const CWaker&) = delete;
    CWaker& operator=(const CWaker&) = delete;

    // Main thread only.
    std::vector<double> m_vecMs;

private:
    std::function<void()> m_fnAct;
    int m_anPipe[2] = { -1, -1 };
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::thread m_thread;
    std::atomic<bool> m_bStop { false };
    std::atomic<Clock::rep> m_nSentAt { 0 };
};

// A left click in the middle of pWidget, press and release, delivered at once.
inline void ClickNow(QWidget* pWidget)
{
    const QPointF pt(pWidget->width() / 2.0, pWidget->height() / 2.0);
    for (QEvent::Type eType : { QEvent::MouseButtonPress, QEvent::MouseButtonRelease }) {
        QMouseEvent event(eType, pt, pWidget->mapToGlobal(pt), Qt::LeftButton,
            eType == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pWidget, &event);
    }
}
