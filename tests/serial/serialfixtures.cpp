#include "serialfixtures.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

CPty::CPty()
{
    char szName[128] = {};
    if (::openpty(&m_hMaster, &m_hSlave, szName, nullptr, nullptr) < 0)
        throw std::runtime_error("openpty failed");
    m_strSlave = szName;
    ::fcntl(m_hMaster, F_SETFL, ::fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_hMaster, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_hSlave, F_SETFD, FD_CLOEXEC);
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

void CPty::Send(const std::vector<unsigned char>& bytes)
{
    ASSERT_EQ(::write(m_hMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<unsigned char> CPty::Receive(size_t nCount, int nMs)
{
    std::vector<unsigned char> bytes;
    const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
    while (bytes.size() < nCount) {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
            tpEnd - std::chrono::steady_clock::now())
                               .count();
        pollfd pfd = { m_hMaster, POLLIN, 0 };
        if (nLeft <= 0 || ::poll(&pfd, 1, static_cast<int>(nLeft)) <= 0)
            break;
        unsigned char aBuffer[4096];
        const ssize_t n
            = ::read(m_hMaster, aBuffer, std::min(sizeof aBuffer, nCount - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), aBuffer, aBuffer + n);
        else if (n == 0 || errno != EAGAIN)
            break;
    }
    return bytes;
}

size_t CPty::Unread()
{
    size_t nTotal = 0;
    unsigned char aBuffer[4096];
    ssize_t n;
    while ((n = ::read(m_hMaster, aBuffer, sizeof aBuffer)) > 0)
        nTotal += static_cast<size_t>(n);
    return nTotal;
}

CTestOwner::CTestOwner()
    : m_thread([this] { Run(); })
{ }

CTestOwner::~CTestOwner()
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bStop = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void CTestOwner::PostToOwner(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_queue.push_back(std::move(fn));
        ++m_nPosted;
    }
    m_cv.notify_all();
}

void CTestOwner::OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam)
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_notes.push_back({ nMessage, wParam, lParam });
    }
    m_cv.notify_all();
    if (nMessage == WM_COMM_RXCHAR && m_onByte)
        m_onByte(static_cast<unsigned char>(wParam));
}

void CTestOwner::Hold(bool bHold)
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bHeld = bHold;
    }
    m_cv.notify_all();
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

bool CTestOwner::WaitUntil(int nMs, const std::function<bool()>& pred)
{
    std::unique_lock<std::mutex> lock(m_mx);
    return m_cv.wait_for(lock, std::chrono::milliseconds(nMs), pred);
}

bool CTestOwner::WaitPosted(size_t nCount, int nMs)
{
    return WaitUntil(nMs, [&] { return m_nPosted >= nCount; });
}

bool CTestOwner::WaitBytes(size_t nCount, int nMs)
{
    return WaitUntil(nMs, [&] {
        size_t n = 0;
        for (const SNote& note : m_notes)
            n += note.nMessage == WM_COMM_RXCHAR;
        return n >= nCount;
    });
}

bool CTestOwner::WaitIdle(int nMs)
{
    return WaitUntil(nMs, [&] { return m_queue.empty() && !m_bRunning; });
}

std::vector<unsigned char> CTestOwner::Bytes()
{
    std::lock_guard<std::mutex> lock(m_mx);
    std::vector<unsigned char> bytes;
    for (const SNote& note : m_notes) {
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

void CCaptureReporter::ShowError(const std::string& strCaption, const std::string& strText)
{
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_strCaption = strCaption;
        m_texts.push_back(strText);
        m_threads.push_back(std::this_thread::get_id());
    }
    m_cv.notify_all();
}

bool CCaptureReporter::WaitCount(size_t nCount, int nMs)
{
    std::unique_lock<std::mutex> lock(m_mx);
    return m_cv.wait_for(
        lock, std::chrono::milliseconds(nMs), [&] { return m_texts.size() >= nCount; });
}

std::vector<std::string> CCaptureReporter::Texts()
{
    std::lock_guard<std::mutex> lock(m_mx);
    return m_texts;
}

std::vector<std::thread::id> CCaptureReporter::Threads()
{
    std::lock_guard<std::mutex> lock(m_mx);
    return m_threads;
}

std::string CCaptureReporter::Caption()
{
    std::lock_guard<std::mutex> lock(m_mx);
    return m_strCaption;
}

std::string BoxText(const std::string& strOperation, const std::string& strSystem, int nPort)
{
    return "WARNING:  " + strOperation + " Failed with the following error: \n" + strSystem
        + "\nPort: " + std::to_string(nPort) + "\n";
}

size_t CountEntries(const char* szDir)
{
    size_t n = 0;
    if (DIR* pDir = ::opendir(szDir)) {
        while (::readdir(pDir))
            ++n;
        ::closedir(pDir);
    }
    return n;
}
