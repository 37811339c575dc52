#include "fileops.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace {

CFileOps g_systemOps;
std::atomic<CFileOps*> g_pOps { &g_systemOps };

bool Fsync(int nFd)
{
#ifdef _WIN32
    return ::_commit(nFd) == 0;
#else
    int n;
    do
        n = ::fsync(nFd);
    while (n < 0 && errno == EINTR);
    return n == 0;
#endif
}

} // namespace

ssize_t CFileOps::Write(int nFd, const void* p, size_t nCount)
{
    ssize_t n;
    do
        n = ::write(nFd, p, nCount);
    while (n < 0 && errno == EINTR);
    return n;
}

bool CFileOps::SyncFile(int nFd)
{
    return Fsync(nFd);
}

bool CFileOps::Rename(const std::string& strFrom, const std::string& strTo)
{
#ifdef _WIN32
    // Windows' rename does not replace; written through, the new name is on the disk on return.
    if (::MoveFileExA(
            strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = EACCES;
    return false;
#else
    return std::rename(strFrom.c_str(), strTo.c_str()) == 0;
#endif
}

bool CFileOps::SyncFolder(const std::string& strFolder)
{
#ifdef _WIN32
    // A folder cannot be flushed there; the rename above was written through.
    (void)strFolder;
    return true;
#else
    const int nFd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nFd < 0)
        return false;
    const bool bOk = Fsync(nFd);
    const int nError = errno;
    ::close(nFd);
    errno = nError;
    return bOk;
#endif
}

CFileOps& CFileOps::Instance()
{
    return *g_pOps.load();
}

void CFileOps::SetInstance(CFileOps* pOps)
{
    g_pOps.store(pOps ? pOps : &g_systemOps);
}

std::string FolderOf(const std::string& strPath)
{
    const size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

bool ReplaceDurably(
    int nFd, const std::string& strTemp, const std::string& strTarget, std::string& strError)
{
    CFileOps& ops = CFileOps::Instance();
    const char* szStep = nullptr;
    if (!ops.SyncFile(nFd))
        szStep = "cannot flush it to the disk";
    else if (!ops.Rename(strTemp, strTarget))
        szStep = "cannot put it in the old file's place";
    else if (!ops.SyncFolder(FolderOf(strTarget)) && errno != EINVAL && errno != ENOTSUP)
        // The new file is in place; only its name may not yet survive a power cut. (Some file
        // systems cannot flush a folder at all: nothing more can be done there.)
        szStep = "saved, but its folder cannot be flushed to the disk";
    if (!szStep)
        return true;
    strError = std::string(szStep) + " (" + std::strerror(errno) + ")";
    return false;
}
