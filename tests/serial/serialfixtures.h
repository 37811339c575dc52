#pragma once

#include "serialport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A pseudo-terminal whose master end plays the device; the slave is the port Brem opens.
class CPty {
public:
    CPty();
    ~CPty();
    int Master() const { return m_hMaster; }
    int Slave() const { return m_hSlave; }
    const std::string& SlavePath() const { return m_strSlave; }
    void CloseMaster();
    void Send(const std::vector<unsigned char>& bytes);
    // Reads from the master until nCount bytes came or nMs passed.
    std::vector<unsigned char> Receive(size_t nCount, int nMs = 5000);
    // Bytes the device has been sent but not read yet.
    size_t Unread();

private:
    int m_hMaster = -1;
    int m_hSlave = -1;
    std::string m_strSlave;
};

struct SNote {
    unsigned nMessage;
    uintptr_t wParam;
    intptr_t lParam;
};

// The owner's thread: runs posted closures in order, unless held (a busy window).
class CTestOwner : public CSerialPortOwner {
public:
    CTestOwner();
    ~CTestOwner() override;
    void PostToOwner(std::function<void()> fn) override;
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override;

    // Runs on the owner's thread for every received byte, inside the notification.
    std::function<void(unsigned char)> m_onByte;

    void Hold(bool bHold);
    bool WaitPosted(size_t nCount, int nMs = 5000);
    bool WaitBytes(size_t nCount, int nMs = 5000);
    // True when nothing is queued or running.
    bool WaitIdle(int nMs = 5000);
    std::vector<unsigned char> Bytes();
    std::vector<SNote> Notes();
    std::thread::id ThreadId() const { return m_thread.get_id(); }

private:
    bool WaitUntil(int nMs, const std::function<bool()>& pred);
    void Run();

    std::mutex m_mx;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    std::vector<SNote> m_notes;
    size_t m_nPosted = 0;
    bool m_bHeld = false;
    bool m_bRunning = false;
    bool m_bStop = false;
    std::thread m_thread;
};

class CCaptureReporter : public CErrorReporter {
public:
    void ShowError(const std::string& strCaption, const std::string& strText) override;
    bool WaitCount(size_t nCount, int nMs = 5000);
    std::vector<std::string> Texts();
    std::vector<std::thread::id> Threads();
    std::string Caption();

private:
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::vector<std::string> m_texts;
    std::vector<std::thread::id> m_threads;
    std::string m_strCaption;
};

std::string BoxText(const std::string& strOperation, const std::string& strSystem, int nPort);
size_t CountEntries(const char* szDir);
