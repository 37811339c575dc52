#pragma once

#include "serialport.h"
#include "syserror.h"
#include "testpty.h"

#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

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
// error reporter. What it saw is read under its lock: in a Wait predicate, or through Get.
class CTestOwner : public CSerialPortOwner, public CErrorReporter {
public:
    CTestOwner()
        : m_thread([this] { Run(); })
    { }
    ~CTestOwner() override
    {
        Wait([&] { return m_bStop = true; });
        m_thread.join();
    }
    void PostToOwner(std::function<void()> fn) override
    {
        Wait([&] {
            m_queue.push_back(std::move(fn));
            return ++m_nPosted;
        });
    }
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override
    {
        const bool bByte = nMessage == WM_COMM_RXCHAR;
        Wait([&] {
            m_notes.push_back({ nMessage, wParam, lParam });
            if (bByte)
                m_received.push_back(static_cast<unsigned char>(wParam));
            return true;
        });
        if (bByte && m_onByte)
            m_onByte(static_cast<unsigned char>(wParam));
    }
    void ShowError(const std::string& strCaption, const std::string& strText) override
    {
        Wait([&] {
            m_boxes.push_back({ strCaption, strText, std::this_thread::get_id() });
            return true;
        });
    }
    void Hold(bool bHold)
    {
        Wait([&] { return (m_bHeld = bHold), true; });
    }
    // False after nMs. pred may change state others wait on: everyone is woken after it.
    bool Wait(const std::function<bool()>& pred, int nMs = 5000)
    {
        std::unique_lock<std::mutex> lock(m_mx);
        const bool bMet = m_cv.wait_for(lock, std::chrono::milliseconds(nMs), pred);
        m_cv.notify_all();
        return bMet;
    }
    // For what no notification announces (the port's state, the pty's queue): looked at again
    // every millisecond until it holds or nMs passed.
    bool Until(const std::function<bool()>& pred, int nMs = 5000)
    {
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= tpEnd)
                return false;
            Wait([] { return false; }, 1);
        }
        return true;
    }
    bool WaitBytes(size_t nCount)
    {
        return Wait([&] { return m_received.size() >= nCount; });
    }
    bool WaitIdle()
    {
        return Wait([&] { return m_queue.empty() && !m_bRunning; });
    }
    template <class T> T Get(const T& member)
    {
        std::lock_guard<std::mutex> lock(m_mx);
        return member;
    }
    std::thread::id ThreadId() const { return m_thread.get_id(); }

    // Runs on the owner's thread for every received byte, inside the notification.
    std::function<void(unsigned char)> m_onByte;
    size_t m_nPosted = 0;
    Bytes m_received;
    std::vector<SNote> m_notes;
    std::vector<SBox> m_boxes;

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(m_mx);
        for (;;) {
            m_cv.wait(lock, [this] { return m_bStop || (!m_bHeld && !m_queue.empty()); });
            if (m_bStop)
                return;
            auto fn = std::move(m_queue.front());
            m_queue.pop_front();
            m_bRunning = true;
            lock.unlock();
            fn();
            lock.lock();
            m_bRunning = false;
            m_cv.notify_all();
        }
    }

    std::mutex m_mx;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    bool m_bHeld = false, m_bRunning = false, m_bStop = false;
    std::thread m_thread;
};

// A port, its owner and a pty to open it on; port number 4, mask EV_RXCHAR | EV_CTS.
struct SPortFixture : testing::Test {
    static constexpr int g_nPort = 4;
    static constexpr uint32_t g_dwMask = EV_RXCHAR | EV_CTS;
    SPortFixture() { port.SetErrorReporter(&owner); }
    bool Open(unsigned nBaud = 115200, char cParity = 'N', unsigned nData = 8, unsigned nStop = 1,
        uint32_t dwMask = g_dwMask)
    {
        return port.InitPort(
            &owner, pty.PortName(), g_nPort, nBaud, cParity, nData, nStop, dwMask, 8192);
    }
    // Opens and monitors; returns once the thread's purge at start is behind it.
    void Start(uint32_t dwMask = g_dwMask)
    {
        ASSERT_TRUE(Open(115200, 'N', 8, 1, dwMask));
        ASSERT_TRUE(port.StartMonitoring());
        ASSERT_TRUE(Write("S"));
        ASSERT_EQ(pty.Receive(1), Of("S"));
        // Its report handled and the owner's thread back in its loop, where Hold() stops it.
        ASSERT_TRUE(owner.Wait([&] { return !owner.m_notes.empty(); }));
        ASSERT_TRUE(owner.WaitIdle());
    }
    bool Write(const std::string& str)
    {
        return port.WriteToPort(
            reinterpret_cast<const unsigned char*>(str.data()), static_cast<uint32_t>(str.size()));
    }
    static Bytes Of(const std::string& str) { return { str.begin(), str.end() }; }
    static std::string BoxText(
        const std::string& strOperation, const std::string& strSystem, int nPort)
    {
        return "WARNING:  " + strOperation + " Failed with the following error: \n" + strSystem
            + "\nPort: " + std::to_string(nPort) + "\n";
    }
    CTestPty pty;
    CTestOwner owner;
    CSerialPort port;
};
