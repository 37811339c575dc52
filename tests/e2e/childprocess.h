#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A program run by the tests, with its stdout and stderr captured; every wait has a deadline.
class CChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // argv[0] is the program path. stdin is /dev/null.
    bool Start(const std::vector<std::string>& argv);
    // Reads output until fnDone holds or the deadline passes; returns fnDone's last value. A
    // zero timeout takes only what is there now.
    bool PumpUntil(const std::function<bool()>& fnDone, Clock::duration timeout);
    // The first complete stdout line, once it is there ("" when it did not come in time).
    std::string FirstLine(Clock::duration timeout);
    // Waits for the exit and the end of its output. Returns the exit status, 128 + signal for a
    // killed process, or -1 when it did not end in time (it is then killed).
    int Wait(Clock::duration timeout);
    void Signal(int nSignal);
    // Stops reading its stdout, as a reader that has all it wanted does (| head -1).
    void CloseOut();

    // Line ends as a Windows program in text mode writes them (CR LF) become LF.
    void DropCarriageReturns();

    const std::string& Out() const { return m_strOut; }
    const std::string& Err() const { return m_strErr; }

private:
    bool PumpOnce(Clock::time_point tpDeadline);

    pid_t m_pid = -1;
    int m_nPidFd = -1;
    int m_nOutFd = -1;
    int m_nErrFd = -1;
    bool m_bExited = false;
    int m_nStatus = -1;
    std::string m_strOut;
    std::string m_strErr;
};
