#include "wirecapture.h"

#include "fileops.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

#ifdef _WIN32
// The bytes as they came: no CR put before each LF.
constexpr int g_nOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_BINARY;

void LocalTime(time_t nTime, tm& local)
{
    localtime_s(&local, &nTime);
}
#else
constexpr int g_nOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;

void LocalTime(time_t nTime, tm& local)
{
    localtime_r(&nTime, &local);
}
#endif

} // namespace

struct CWireCapture::SShared {
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::deque<std::string> m_queue; // guarded by m_mx, as are the three below
    size_t m_nQueued = 0;
    bool m_bStop = false;
    std::string m_strFailure;
    std::atomic<bool> m_bFailed { false };
    std::atomic<bool> m_bDone { false };
    std::atomic<uint64_t> m_nFileSize { 0 };
    std::atomic<uint64_t> m_nWrites { 0 };
    // Set before the writer starts; the writer's alone after.
    int m_nFd = -1;
    std::string m_strFolder;
    bool m_bNewFile = false;
    std::thread m_thread;

    void Fail(const std::string& strWhy)
    {
        std::lock_guard<std::mutex> lock(m_mx);
        if (m_strFailure.empty())
            m_strFailure = strWhy;
        m_bFailed = true;
    }

    void Write(const std::string& str)
    {
        for (size_t nDone = 0; nDone < str.size() && !m_bFailed;) {
            const ssize_t n
                = CFileOps::Instance().Write(m_nFd, str.data() + nDone, str.size() - nDone);
            if (n <= 0) {
                Fail(n < 0 ? std::strerror(errno) : "the disk took nothing");
                return;
            }
            nDone += size_t(n);
            m_nFileSize += uint64_t(n);
            ++m_nWrites;
        }
    }

    // The writer: writes what is handed over as it comes, flushes the file to the disk once a
    // second while there is news, and at the end the file and its folder.
    static void Run(const std::shared_ptr<SShared>& p)
    {
        auto tpSynced = std::chrono::steady_clock::now();
        bool bUnsynced = false;
        bool bFolderSynced = !p->m_bNewFile;
        const auto sync = [&](bool bFolder) {
            CFileOps& ops = CFileOps::Instance();
            if (!ops.SyncFile(p->m_nFd))
                p->Fail(std::string("flushing to the disk failed: ") + std::strerror(errno));
            else if ((bFolder || !bFolderSynced) && !ops.SyncFolder(p->m_strFolder)
                && errno != EINVAL && errno != ENOTSUP)
                p->Fail(std::string("flushing the folder failed: ") + std::strerror(errno));
            bFolderSynced = true;
            bUnsynced = false;
            tpSynced = std::chrono::steady_clock::now();
        };
        for (;;) {
            std::deque<std::string> take;
            bool bStop = false;
            {
                std::unique_lock<std::mutex> lock(p->m_mx);
                const auto ready = [&] { return !p->m_queue.empty() || p->m_bStop; };
                if (bUnsynced)
                    p->m_cv.wait_until(lock, tpSynced + 1s, ready);
                else
                    p->m_cv.wait(lock, ready);
                take.swap(p->m_queue);
                bStop = p->m_bStop;
            }
            for (const std::string& str : take) {
                if (!p->m_bFailed) {
                    p->Write(str);
                    bUnsynced = true;
                }
                std::lock_guard<std::mutex> lock(p->m_mx);
                p->m_nQueued -= str.size();
            }
            p->m_cv.notify_all();
            if (bStop)
                break;
            if (bUnsynced && !p->m_bFailed && std::chrono::steady_clock::now() - tpSynced >= 1s)
                sync(false);
        }
        // The end: the file, then its folder; after a failure, what the file holds all the same.
        if (!p->m_bFailed)
            sync(true);
        else
            CFileOps::Instance().SyncFile(p->m_nFd);
        ::close(p->m_nFd);
        p->m_bDone = true;
        p->m_cv.notify_all();
    }
};

CWireCapture::CWireCapture(std::function<int64_t()> fnNowUs)
    : m_fnNowUs(std::move(fnNowUs))
{
    if (!m_fnNowUs)
        m_fnNowUs = [] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
}

CWireCapture::~CWireCapture()
{
    Stop();
    WaitWriter(5000);
}

bool CWireCapture::Start(const std::string& strPath, EFormat eFormat, std::string& strError)
{
    if (m_bOn) {
        strError = "a capture is running";
        return false;
    }
    // A writer still finishing the last capture goes on by itself.
    if (m_pShared && m_pShared->m_thread.joinable()) {
        if (m_pShared->m_bDone)
            m_pShared->m_thread.join();
        else
            m_pShared->m_thread.detach();
    }
    struct stat st { };
    const bool bExists = ::stat(strPath.c_str(), &st) == 0;
    if (bExists && !S_ISREG(st.st_mode)) {
        strError = "it is not a regular file";
        return false;
    }
    const int nFd = ::open(strPath.c_str(), g_nOpenFlags, 0666);
    if (nFd < 0 || ::fstat(nFd, &st) != 0) {
        strError = std::strerror(errno);
        if (nFd >= 0)
            ::close(nFd);
        return false;
    }
    auto pShared = std::make_shared<SShared>();
    pShared->m_nFd = nFd;
    pShared->m_strFolder = FolderOf(strPath);
    pShared->m_bNewFile = !bExists;
    pShared->m_nFileSize = uint64_t(st.st_size);
    try {
        pShared->m_thread = std::thread(&SShared::Run, pShared);
    } catch (const std::system_error& e) {
        ::close(nFd);
        strError = e.what();
        return false;
    }
    m_pShared = std::move(pShared);
    m_bOn = true;
    m_eFormat = eFormat;
    m_strPath = strPath;
    m_strChunk.clear();
    m_strChunk.reserve(g_nChunkBytes);
    m_bFailureTold = false;
    m_bBurstOpen = false;
    m_nSecond = -1;
    if (eFormat == EFormat::Timed) {
        const int64_t nNow = m_fnNowUs();
        const time_t nSeconds = time_t(nNow / 1000000);
        tm local {};
        LocalTime(nSeconds, local);
        char szZone[16];
        std::strftime(szZone, sizeof szZone, "%z", &local);
        m_strChunk += "# Brem wire capture, started ";
        AppendTime(nNow);
        m_strChunk += std::string(", local time (UTC") + szZone
            + "); RX: from the device, TX: to the device\n";
    }
    return true;
}

void CWireCapture::Sent(const unsigned char* p, size_t nCount)
{
    if (!m_bOn || nCount == 0)
        return;
    if (m_eFormat == EFormat::Timed)
        AddTimed(false, p, nCount);
    else
        m_strChunk.append(reinterpret_cast<const char*>(p), nCount);
    if (m_strChunk.size() >= g_nChunkBytes)
        Flush();
}

void CWireCapture::Note(const std::string& strText)
{
    if (!m_bOn || m_eFormat != EFormat::Timed)
        return;
    CloseBurst();
    m_strChunk += "# ";
    AppendTime(m_fnNowUs());
    m_strChunk += ' ' + strText + '\n';
}

void CWireCapture::Flush()
{
    if (!m_bOn)
        return;
    HandOver();
    if (m_pShared->m_bFailed)
        Stop();
}

void CWireCapture::HandOver()
{
    CloseBurst();
    SShared& shared = *m_pShared;
    if (m_strChunk.empty() || shared.m_bFailed)
        return;
    {
        std::lock_guard<std::mutex> lock(shared.m_mx);
        if (shared.m_nQueued + m_strChunk.size() > g_nMaxBacklog) {
            shared.m_strFailure = "the disk does not keep up: "
                + std::to_string(shared.m_nQueued >> 20) + " MB wait to be written";
            shared.m_bFailed = true;
        } else {
            shared.m_nQueued += m_strChunk.size();
            shared.m_queue.push_back(std::move(m_strChunk));
        }
    }
    shared.m_cv.notify_all();
    m_strChunk = std::string();
    m_strChunk.reserve(g_nChunkBytes);
}

void CWireCapture::Stop()
{
    if (!m_bOn)
        return;
    if (m_eFormat == EFormat::Timed && !m_pShared->m_bFailed) {
        CloseBurst();
        m_strChunk += "# capture ended ";
        AppendTime(m_fnNowUs());
        m_strChunk += '\n';
    }
    HandOver();
    m_strChunk.clear();
    m_bOn = false;
    {
        std::lock_guard<std::mutex> lock(m_pShared->m_mx);
        m_pShared->m_bStop = true;
    }
    m_pShared->m_cv.notify_all();
}

bool CWireCapture::WaitWriter(int nIdleMs)
{
    if (!m_pShared || !m_pShared->m_thread.joinable())
        return true;
    SShared& shared = *m_pShared;
    uint64_t nWrites = shared.m_nWrites;
    auto tpProgress = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(shared.m_mx);
    while (!shared.m_bDone) {
        shared.m_cv.wait_for(lock, 50ms);
        const auto tpNow = std::chrono::steady_clock::now();
        if (shared.m_nWrites != nWrites) {
            nWrites = shared.m_nWrites;
            tpProgress = tpNow;
        } else if (tpNow - tpProgress > std::chrono::milliseconds(nIdleMs)) {
            lock.unlock();
            shared.m_thread.detach();
            return false;
        }
    }
    lock.unlock();
    shared.m_thread.join();
    return true;
}

uint64_t CWireCapture::FileSize() const
{
    return m_pShared ? m_pShared->m_nFileSize.load() : 0;
}

std::string CWireCapture::TakeFailure()
{
    if (!m_pShared || !m_pShared->m_bFailed || m_bFailureTold)
        return std::string();
    m_bFailureTold = true;
    std::lock_guard<std::mutex> lock(m_pShared->m_mx);
    return m_pShared->m_strFailure;
}

void CWireCapture::AppendTime(int64_t nUs)
{
    const int64_t nSecond = nUs / 1000000;
    if (nSecond != m_nSecond) {
        m_nSecond = nSecond;
        const time_t nTime = time_t(nSecond);
        tm local {};
        LocalTime(nTime, local);
        char sz[32];
        std::strftime(sz, sizeof sz, "%Y-%m-%d %H:%M:%S", &local);
        m_strSecond = sz;
    }
    const int nMs = int(nUs / 1000 % 1000);
    m_strChunk += m_strSecond;
    m_strChunk += '.';
    m_strChunk += char('0' + nMs / 100);
    m_strChunk += char('0' + nMs / 10 % 10);
    m_strChunk += char('0' + nMs % 10);
}

void CWireCapture::OpenBurst(bool bReceived, int64_t nNowUs)
{
    AppendTime(nNowUs);
    m_strChunk += bReceived ? " RX \"" : " TX \"";
    m_bBurstOpen = true;
    m_bBurstReceived = bReceived;
    m_nBurstBytes = 0;
    m_nPrevByte = -1;
}

void CWireCapture::CloseBurst()
{
    if (!m_bBurstOpen)
        return;
    m_strChunk += "\"\n";
    m_bBurstOpen = false;
}

void CWireCapture::AddTimed(bool bReceived, const unsigned char* p, size_t nCount)
{
    static const char g_szHex[] = "0123456789ABCDEF";
    const int64_t nNowUs = m_fnNowUs();
    bool bPause = nNowUs - m_nLastUs > 10000;
    m_nLastUs = nNowUs;
    for (size_t i = 0; i < nCount; ++i) {
        const unsigned char c = p[i];
        if (!m_bBurstOpen || m_bBurstReceived != bReceived || m_nBurstBytes >= 256 || bPause
            || m_nPrevByte == '\n' || (m_nPrevByte == '\r' && c != '\n')) {
            CloseBurst();
            OpenBurst(bReceived, nNowUs);
        }
        bPause = false;
        ++m_nBurstBytes;
        m_nPrevByte = c;
        switch (c) {
        case '\r':
            m_strChunk += "\\r";
            break;
        case '\n':
            m_strChunk += "\\n";
            break;
        case '\t':
            m_strChunk += "\\t";
            break;
        case '"':
            m_strChunk += "\\\"";
            break;
        case '\\':
            m_strChunk += "\\\\";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                m_strChunk += char(c);
            } else {
                m_strChunk += "\\x";
                m_strChunk += g_szHex[c >> 4];
                m_strChunk += g_szHex[c & 15];
            }
            break;
        }
    }
    if (m_strChunk.size() >= g_nChunkBytes)
        Flush();
}
