#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The command-line downloader's main thread: closures posted from any thread, one periodic
// timer, a deadline, and the signals that end a run, all served in the thread that calls Run().
class CEventLoop {
public:
    using Clock = std::chrono::steady_clock;

    CEventLoop();
    ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    // Blocks SIGHUP, SIGINT, SIGQUIT and SIGTERM in the calling thread (and in every thread it
    // starts later) and turns them into calls of fnSignal on the loop's thread; ignores SIGPIPE.
    // Call before starting threads.
    void CatchSignals(std::function<void(int)> fnSignal);

    // Any thread; never blocks on the loop.
    void Post(std::function<void()> fn);

    // Loop thread. The timer fires every nPeriodMs from now until KillTimer.
    void SetTimer(unsigned nPeriodMs, std::function<void()> fnTick);
    void KillTimer();
    // Loop thread. fnExpired runs once when tpWhen passes; a new call replaces the old one.
    void SetDeadline(Clock::time_point tpWhen, std::function<void()> fnExpired);
    // Loop thread. Moves the deadline set last (also one that has expired) to tpWhen.
    void MoveDeadline(Clock::time_point tpWhen);

    // Serves posted closures, the timer and the deadline until Quit(); a timer or deadline that
    // is due goes between two closures.
    void Run();
    void Quit();
    // Runs what is still queued, without waiting for more.
    void Drain();

private:
    bool TakeOne(std::function<void()>& fn);
    void StopSignalThread();

    std::mutex m_mutex;
    std::condition_variable m_cvPosted;
    std::deque<std::function<void()>> m_queue;

    bool m_bQuit = false;
    bool m_bTimer = false;
    unsigned m_nTimerPeriodMs = 0;
    Clock::time_point m_tpTimer;
    std::function<void()> m_fnTick;
    bool m_bDeadline = false;
    Clock::time_point m_tpDeadline;
    std::function<void()> m_fnExpired;

    std::thread m_signalThread;
    bool m_bSignalsCaught = false;
};
