#include "serialfixtures.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

CPty::CPty()
{
    char szName[128] = {};
    if (::openpty(&m_hMaster, &m_hSlave, szName, nullptr, nullptr) < 0)
        throw std::runtime_error("openpty failed");
    m_strSlave = szName;
    ::fcntl(m_hMaster, F_SETFL, ::fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
    // Raw from the start, so the settings restored at close do not echo.
    termios tio;
    ::tcgetattr(m_hSlave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_hSlave, TCSANOW, &tio);
}

CPty::~CPty()
{
    CloseMaster();
    ::close(m_hSlave);
}

void CPty::CloseMaster()
{
    if (m_hMaster >= 0)
        ::close(m_hMaster);
    m_hMaster = -1;
}

void CPty::Send(const Bytes& bytes)
{
    ASSERT_EQ(::write(m_hMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

Bytes CPty::Receive(size_t nCount, int nMs)
{
    Bytes bytes;
    const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    pollfd pfd = { m_hMaster, POLLIN, 0 };
    while (bytes.size() < nCount) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
            tpEnd - std::chrono::steady_clock::now());
        if (nLeft.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(nLeft.count())) <= 0)
            break;
        unsigned char a[4096];
        const ssize_t n = ::read(m_hMaster, a, std::min(sizeof a, nCount - bytes.size()));
        if (n <= 0 && errno != EAGAIN)
            break;
        if (n > 0)
            bytes.insert(bytes.end(), a, a + n);
    }
    return bytes;
}

size_t CPty::Unread()
{
    size_t nTotal = 0;
    unsigned char a[4096];
    for (ssize_t n; (n = ::read(m_hMaster, a, sizeof a)) > 0;)
        nTotal += static_cast<size_t>(n);
    return nTotal;
}

CTestOwner::CTestOwner()
    : m_thread([this] { Run(); })
{ }

CTestOwner::~CTestOwner()
{
    Wait([&] { return m_bStop = true; });
    m_thread.join();
}

void CTestOwner::Run()
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

void CTestOwner::PostToOwner(std::function<void()> fn)
{
    Wait([&] {
        m_queue.push_back(std::move(fn));
        return ++m_nPosted;
    });
}

void CTestOwner::OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam)
{
    Wait([&] {
        m_notes.push_back({ nMessage, wParam, lParam });
        return m_nBytes += nMessage == WM_COMM_RXCHAR, true;
    });
    if (nMessage == WM_COMM_RXCHAR && m_onByte)
        m_onByte(static_cast<unsigned char>(wParam));
}

void CTestOwner::ShowError(const std::string& strCaption, const std::string& strText)
{
    Wait([&] {
        m_boxes.push_back({ strCaption, strText, std::this_thread::get_id() });
        return ++m_nBoxes;
    });
}

void CTestOwner::Hold(bool bHold)
{
    Wait([&] { return (m_bHeld = bHold), true; });
}

bool CTestOwner::Wait(const std::function<bool()>& pred, int nMs)
{
    std::unique_lock<std::mutex> lock(m_mx);
    const bool bMet = m_cv.wait_for(lock, std::chrono::milliseconds(nMs), pred);
    m_cv.notify_all(); // pred may have changed the state others wait on
    return bMet;
}

Bytes CTestOwner::Received()
{
    Bytes bytes;
    for (const SNote& note : Notes()) {
        if (note.nMessage == WM_COMM_RXCHAR)
            bytes.push_back(static_cast<unsigned char>(note.wParam));
    }
    return bytes;
}

std::vector<SNote> CTestOwner::Notes()
{
    std::lock_guard<std::mutex> lock(m_mx);
    return m_notes;
}

std::vector<SBox> CTestOwner::Boxes()
{
    std::lock_guard<std::mutex> lock(m_mx);
    return m_boxes;
}

std::string BoxText(const std::string& strOperation, const std::string& strSystem, int nPort)
{
    return "WARNING:  " + strOperation + " Failed with the following error: \n" + strSystem
        + "\nPort: " + std::to_string(nPort) + "\n";
}

void SPortFixture::Start(uint32_t dwMask)
{
    ASSERT_TRUE(Open(115200, 'N', 8, 1, dwMask));
    ASSERT_TRUE(port.StartMonitoring());
    ASSERT_TRUE(Write("S"));
    ASSERT_EQ(pty.Receive(1), Of("S"));
}
