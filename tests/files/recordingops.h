#pragma once
// A file system seam for tests: records each call with what the file held at the time, and can
// make writes fail after a number of bytes (a full disk), hold them or the flush until released
// (a slow disk), or fail the flush.
#include "fileops.h"

#include <sys/stat.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class CRecordingOps : public CFileOps {
public:
    CRecordingOps() { SetInstance(this); }
    ~CRecordingOps() override
    {
        Release();
        SetInstance(nullptr);
    }
    ssize_t Write(int nFd, const void* p, size_t nCount) override
    {
        std::unique_lock<std::mutex> lock(m_mx);
        m_cv.wait(lock, [this] { return !m_bHold; });
        if (m_nWritten + nCount > m_nRoom) {
            errno = ENOSPC;
            return -1;
        }
        m_nWritten += nCount;
        m_vecCalls.push_back("write");
        lock.unlock();
        return CFileOps::Write(nFd, p, nCount);
    }
    bool SyncFile(int nFd) override
    {
        struct stat st { };
        ::fstat(nFd, &st);
        std::unique_lock<std::mutex> lock(m_mx);
        m_vecCalls.push_back("sync " + std::to_string(st.st_size));
        m_bSyncWaiting = true;
        m_cv.wait(lock, [this] { return !m_bHoldSync; });
        m_bSyncWaiting = false;
        if (m_bFailSync) {
            errno = EIO;
            return false;
        }
        lock.unlock();
        return CFileOps::SyncFile(nFd);
    }
    bool Rename(const std::string& strFrom, const std::string& strTo) override
    {
        Record("rename " + strFrom + " " + strTo);
        return CFileOps::Rename(strFrom, strTo);
    }
    bool SyncFolder(const std::string& strFolder) override
    {
        Record("folder " + strFolder);
        return CFileOps::SyncFolder(strFolder);
    }
    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_vecCalls;
    }
    void Hold(bool bSyncToo = false)
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bHold = !bSyncToo;
        m_bHoldSync = bSyncToo;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_bHold = m_bHoldSync = false;
        m_cv.notify_all();
    }
    bool SyncWaiting()
    {
        std::lock_guard<std::mutex> lock(m_mx);
        return m_bSyncWaiting;
    }
    size_t m_nRoom = size_t(-1);
    bool m_bFailSync = false;

private:
    void Record(const std::string& str)
    {
        std::lock_guard<std::mutex> lock(m_mx);
        m_vecCalls.push_back(str);
    }
    std::mutex m_mx;
    std::condition_variable m_cv;
    bool m_bHold = false;
    bool m_bHoldSync = false;
    bool m_bSyncWaiting = false;
    size_t m_nWritten = 0;
    std::vector<std::string> m_vecCalls;
};
