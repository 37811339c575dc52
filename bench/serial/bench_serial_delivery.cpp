// Prints how fast received bytes reach an owner on another thread, and how soon an answer
// leaves the port after a byte came in, over a pseudo-terminal.
#include "serialport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifdef BREM_BENCH_QT_OWNER
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#endif

namespace {

using Clock = std::chrono::steady_clock;

#ifdef BREM_BENCH_QT_OWNER
// Closures run by the Qt event loop of the main thread, as in the window.
class CQueueOwner : public CSerialPortOwner {
public:
    void PostToOwner(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    }
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t) override
    {
        if (nMessage == WM_COMM_RXCHAR && m_onByte)
            m_onByte(static_cast<unsigned char>(wParam));
    }
    std::function<void(unsigned char)> m_onByte;
};
#else
// A plain thread with a queue stands in for the window's event loop.
class CQueueOwner : public CSerialPortOwner {
public:
    CQueueOwner()
        : m_thread([this] { Run(); })
    { }
    ~CQueueOwner() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mx);
            m_bStop = true;
        }
        m_cv.notify_one();
        m_thread.join();
    }
    void PostToOwner(std::function<void()> fn) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mx);
            m_queue.push_back(std::move(fn));
        }
        m_cv.notify_one();
    }
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t) override
    {
        if (nMessage == WM_COMM_RXCHAR && m_onByte)
            m_onByte(static_cast<unsigned char>(wParam));
    }
    std::function<void(unsigned char)> m_onByte;

private:
    void Run()
    {
        std::unique_lock<std::mutex> lock(m_mx);
        for (;;) {
            m_cv.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
            if (m_bStop)
                return;
            auto fn = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_queue;
    bool m_bStop = false;
    std::thread m_thread;
};
#endif

struct SPty {
    int hMaster = -1, hSlave = -1;
    std::string strSlave;
    SPty()
    {
        char szName[128] = {};
        if (::openpty(&hMaster, &hSlave, szName, nullptr, nullptr) < 0) {
            std::perror("openpty");
            std::exit(1);
        }
        strSlave = szName;
        termios tio;
        ::tcgetattr(hSlave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(hSlave, TCSANOW, &tio);
    }
    ~SPty()
    {
        ::close(hMaster);
        ::close(hSlave);
    }
};

bool ReadSome(int hFile, std::vector<unsigned char>& buffer, size_t nWant)
{
    pollfd pfd = { hFile, POLLIN, 0 };
    if (::poll(&pfd, 1, 5000) <= 0)
        return false;
    unsigned char a[4096];
    const ssize_t n = ::read(hFile, a, std::min(sizeof a, nWant));
    if (n <= 0)
        return false;
    buffer.insert(buffer.end(), a, a + n);
    return true;
}

// Waits (in the owner's event loop for the Qt variant) until done() holds.
void WaitFor(const std::function<bool()>& done)
{
#ifdef BREM_BENCH_QT_OWNER
    // A real event loop: it sleeps between events, as the window's does.
    QEventLoop loop;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    timer.start(1);
    loop.exec();
#else
    while (!done())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

void DeliveryRate(unsigned nSpin, uint32_t dwMask, const char* szMaskName)
{
#ifdef BREM_BENCH_QT_OWNER
    constexpr size_t nBytes = 20000;
#else
    constexpr size_t nBytes = 100000;
#endif
    SPty pty;
    CQueueOwner owner;
    std::atomic<size_t> nGot { 0 };
    owner.m_onByte = [&](unsigned char) { nGot.fetch_add(1, std::memory_order_relaxed); };
    CSerialPort::SetDeliverySpinMicros(nSpin);
    CSerialPort port;
    if (!port.InitPort(&owner, pty.strSlave, 1, 115200, 'N', 8, 1, dwMask, 8192)
        || !port.StartMonitoring()) {
        std::fprintf(stderr, "cannot open %s\n", pty.strSlave.c_str());
        return;
    }
    // Past the purge at thread start before the device talks.
    const unsigned char cSync = 'S';
    port.WriteToPort(&cSync, 1);
    std::vector<unsigned char> got;
    ReadSome(pty.hMaster, got, 1);

    const auto tpStart = Clock::now();
    std::thread device([&] {
        std::vector<unsigned char> chunk(256, 0x55);
        size_t nSent = 0;
        while (nSent < nBytes) {
            const ssize_t n
                = ::write(pty.hMaster, chunk.data(), std::min(chunk.size(), nBytes - nSent));
            if (n > 0)
                nSent += static_cast<size_t>(n);
        }
    });
    WaitFor([&] { return nGot.load() >= nBytes; });
    const double dSeconds = std::chrono::duration<double>(Clock::now() - tpStart).count();
    device.join();
    port.ClosePort();
    std::printf("delivery  mask %-16s spin %3u us: %8.0f bytes/s (%.1f us a byte)\n", szMaskName,
        nSpin, nBytes / dSeconds, dSeconds * 1e6 / nBytes);
}

void Turnaround(unsigned nSpin)
{
    constexpr int nRounds = 1000;
    constexpr size_t nAnswer = 4101;
    SPty pty;
    CQueueOwner owner;
    CSerialPort::SetDeliverySpinMicros(nSpin);
    CSerialPort port;
    std::vector<unsigned char> answer(nAnswer, 0xA5);
    owner.m_onByte = [&](unsigned char) { port.WriteToPort(answer.data(), nAnswer); };
    if (!port.InitPort(&owner, pty.strSlave, 1, 115200, 'N', 8, 1, EV_RXCHAR | EV_CTS, 8192)
        || !port.StartMonitoring()) {
        std::fprintf(stderr, "cannot open %s\n", pty.strSlave.c_str());
        return;
    }
    const unsigned char cSync = 'S';
    port.WriteToPort(&cSync, 1);
    std::vector<unsigned char> sync;
    ReadSome(pty.hMaster, sync, 1);

    std::vector<double> micros;
    std::atomic<bool> bDone { false };
    std::thread device([&] {
        std::vector<unsigned char> got;
        for (int i = 0; i < nRounds; ++i) {
            const unsigned char cPoll = 'P';
            got.clear();
            const auto tp = Clock::now();
            if (::write(pty.hMaster, &cPoll, 1) != 1 || !ReadSome(pty.hMaster, got, nAnswer))
                break;
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - tp).count());
            while (got.size() < nAnswer && ReadSome(pty.hMaster, got, nAnswer - got.size())) { }
        }
        bDone = true;
    });
    WaitFor([&] { return bDone.load(); });
    device.join();
    port.ClosePort();
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    std::printf("turnaround spin %3u us: p50 %6.1f us  p99 %6.1f us  (%zu rounds, 1 byte in, "
                "%zu out)\n",
        nSpin, micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.size(), nAnswer);
}

} // namespace

int main(int argc, char** argv)
{
#ifdef BREM_BENCH_QT_OWNER
    QCoreApplication app(argc, argv);
    std::printf("owner: Qt event loop on the main thread\n");
#else
    (void)argc;
    (void)argv;
    std::printf("owner: plain thread with a queue\n");
#endif
    for (unsigned nSpin : { 0u, 20u, 50u, 200u }) {
        DeliveryRate(nSpin, EV_RXCHAR, "EV_RXCHAR");
        DeliveryRate(nSpin, EV_RXCHAR | EV_CTS, "EV_RXCHAR|EV_CTS");
    }
    for (unsigned nSpin : { 0u, 50u })
        Turnaround(nSpin);
    return 0;
}
