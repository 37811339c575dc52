#include "imagefile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CImageFile::~CImageFile()
{
    Close();
}

bool CImageFile::Open(const std::string& strPath)
{
    Close();
    if (strPath.empty())
        return false;
    // O_NONBLOCK so that a FIFO given as the image cannot hang the caller in open().
    int nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (nFd < 0)
        return false;
    struct stat st { };
    if (::fstat(nFd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(nFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(nFd);
        return false;
    }
    int nFlags = ::fcntl(nFd, F_GETFL);
    if (nFlags >= 0)
        ::fcntl(nFd, F_SETFL, nFlags & ~O_NONBLOCK);
    m_nFd = nFd;
    return true;
}

uint32_t CImageFile::Read(void* pBuffer, uint32_t nCount)
{
    if (m_nFd < 0)
        return 0;
    auto* pOut = static_cast<unsigned char*>(pBuffer);
    uint32_t nDone = 0;
    while (nDone < nCount) {
        ssize_t n = ::read(m_nFd, pOut + nDone, nCount - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        nDone += static_cast<uint32_t>(n);
    }
    return nDone;
}

void CImageFile::SeekToBegin()
{
    if (m_nFd >= 0)
        ::lseek(m_nFd, 0, SEEK_SET);
}

uint64_t CImageFile::GetLength() const
{
    struct stat st { };
    if (m_nFd < 0 || ::fstat(m_nFd, &st) != 0 || st.st_size < 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

void CImageFile::Close()
{
    if (m_nFd < 0)
        return;
    // Closing the last descriptor releases the lock.
    ::close(m_nFd);
    m_nFd = -1;
}
