#include "../imagefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// O_NONBLOCK so that a FIFO given as the image cannot hang the caller in open().
int OpenRegular(const std::string& strPath)
{
    int nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (nFd < 0)
        return -1;
    struct stat st { };
    if (::fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(nFd);
        return -1;
    }
    int nFlags = ::fcntl(nFd, F_GETFL);
    if (nFlags >= 0)
        ::fcntl(nFd, F_SETFL, nFlags & ~O_NONBLOCK);
    return nFd;
}

uint32_t ReadFully(int nFd, unsigned char* pOut, uint32_t nCount)
{
    uint32_t nDone = 0;
    while (nDone < nCount) {
        ssize_t n = ::read(nFd, pOut + nDone, nCount - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nDone += static_cast<uint32_t>(n);
    }
    return nDone;
}

int64_t Nanoseconds(const struct timespec& ts)
{
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

CImageFile::~CImageFile()
{
    Close();
}

bool CImageFile::Open(const std::string& strPath)
{
    Close();
    if (strPath.empty())
        return false;
    int nFd = OpenRegular(strPath);
    if (nFd < 0)
        return false;
    if (::flock(nFd, LOCK_SH | LOCK_NB) != 0) {
        ::close(nFd);
        return false;
    }
    m_hFile = nFd;
    m_strPath = strPath;
    return true;
}

uint32_t CImageFile::Read(void* pBuffer, uint32_t nCount)
{
    if (m_hFile == g_hNoFile)
        return 0;
    return ReadFully(static_cast<int>(m_hFile), static_cast<unsigned char*>(pBuffer), nCount);
}

void CImageFile::SeekToBegin()
{
    if (m_hFile != g_hNoFile)
        ::lseek(static_cast<int>(m_hFile), 0, SEEK_SET);
}

uint64_t CImageFile::GetLength() const
{
    struct stat st { };
    if (m_hFile == g_hNoFile || ::fstat(static_cast<int>(m_hFile), &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

void CImageFile::Close()
{
    if (m_hFile == g_hNoFile)
        return;
    // Closing the last descriptor releases the lock.
    ::close(static_cast<int>(m_hFile));
    m_hFile = g_hNoFile;
    m_strPath.clear();
}

SImageStamp CImageFile::Stamp() const
{
    SImageStamp stamp;
    struct stat st { };
    if (m_hFile == g_hNoFile || ::fstat(static_cast<int>(m_hFile), &st) != 0)
        return stamp;
    stamp.m_nDev = st.st_dev;
    stamp.m_nIno = st.st_ino;
    stamp.m_nSize = static_cast<uint64_t>(st.st_size);
    stamp.m_nModifiedNs = Nanoseconds(st.st_mtim);
    stamp.m_nChangedNs = Nanoseconds(st.st_ctim);
    // A file renamed over the path leaves ours intact but makes the path name another one.
    struct stat stPath { };
    if (::stat(m_strPath.c_str(), &stPath) == 0) {
        stamp.m_nPathDev = stPath.st_dev;
        stamp.m_nPathIno = stPath.st_ino;
    }
    return stamp;
}

bool CImageFile::Holds(const unsigned char* pBytes, uint64_t nCount) const
{
    if (m_hFile == g_hNoFile)
        return false;
    int nFd = OpenRegular(m_strPath);
    if (nFd < 0)
        return false;
    unsigned char buffer[65536];
    bool bSame = true;
    for (uint64_t nDone = 0; bSame && nDone < nCount;) {
        const auto nWant = static_cast<uint32_t>(std::min<uint64_t>(sizeof buffer, nCount - nDone));
        bSame
            = ReadFully(nFd, buffer, nWant) == nWant && memcmp(buffer, pBytes + nDone, nWant) == 0;
        nDone += nWant;
    }
    // Nothing may follow: a file that grew holds more than was sent.
    bSame = bSame && ReadFully(nFd, buffer, 1) == 0;
    ::close(nFd);
    return bSame;
}
