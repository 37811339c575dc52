#pragma once

#include "serialport.h"

#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A pseudo-terminal whose master end plays the device; the slave is the port Brem opens.
class CPty {
public:
    CPty();
    ~CPty();
    int Slave() const { return m_hSlave; }
    const std::string& SlavePath() const { return m_strSlave; }
    void CloseMaster();
    void Send(const Bytes& bytes);
    // Reads from the master until nCount bytes came or nMs passed.
    Bytes Receive(size_t nCount, int nMs = 5000);
    // Bytes sent to the device and not read yet (consumes them).
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

struct SBox {
    std::string strCaption, strText;
    std::thread::id idThread;
};

// The owner's thread (runs posted closures in order unless held, like a busy window), and the
// error reporter.
class CTestOwner : public CSerialPortOwner, public CErrorReporter {
public:
    CTestOwner();
    ~CTestOwner() override;
    void PostToOwner(std::function<void()> fn) override;
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override;
    void ShowError(const std::string& strCaption, const std::string& strText) override;

    // Runs on the owner's thread for every received byte, inside the notification.
    std::function<void(unsigned char)> m_onByte;

    void Hold(bool bHold);
    // pred runs under the lock and may read the counts below; false after nMs.
    bool Wait(const std::function<bool()>& pred, int nMs = 5000);
    bool WaitBytes(size_t nCount)
    {
        return Wait([&] { return m_nBytes >= nCount; });
    }
    bool WaitIdle()
    {
        return Wait([&] { return m_queue.empty() && !m_bRunning; });
    }
    size_t m_nPosted = 0, m_nBytes = 0, m_nBoxes = 0;

    Bytes Received();
    std::vector<SNote> Notes();
    std::vector<SBox> Boxes();
    std::thread::id ThreadId() const { return m_thread.get_id(); }

private:
    void Run();

    std::mutex m_mx;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    std::vector<SNote> m_notes;
    std::vector<SBox> m_boxes;
    bool m_bHeld = false, m_bRunning = false, m_bStop = false;
    std::thread m_thread;
};

// A port, its owner and a pty to open it on; port number 4, mask EV_RXCHAR | EV_CTS.
struct SPortFixture : testing::Test {
    static constexpr int g_nPort = 4;
    SPortFixture() { port.SetErrorReporter(&owner); }
    bool Open(unsigned nBaud = 115200, char cParity = 'N', unsigned nData = 8, unsigned nStop = 1,
        uint32_t dwMask = EV_RXCHAR | EV_CTS)
    {
        return port.InitPort(
            &owner, pty.SlavePath(), g_nPort, nBaud, cParity, nData, nStop, dwMask, 8192);
    }
    // Opens and monitors; returns once the thread's purge at start is behind it.
    void Start(uint32_t dwMask = EV_RXCHAR | EV_CTS);
    bool Write(const std::string& str)
    {
        return port.WriteToPort(
            reinterpret_cast<const unsigned char*>(str.data()), static_cast<uint32_t>(str.size()));
    }
    CPty pty;
    CTestOwner owner;
    CSerialPort port;
};

inline Bytes Of(const std::string& str)
{
    return { str.begin(), str.end() };
}

std::string BoxText(const std::string& strOperation, const std::string& strSystem, int nPort);
