#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// The calls by which files reach the disk, in one place: a test puts in one that records their
// order or fails them, a benchmark one that skips the flushes. Each returns false (or -1) with
// errno set, as the system call does.
class CFileOps {
public:
    virtual ~CFileOps() = default;

    virtual ssize_t Write(int nFd, const void* p, size_t nCount);
    // The file's bytes and size on the disk (fsync).
    virtual bool SyncFile(int nFd);
    virtual bool Rename(const std::string& strFrom, const std::string& strTo);
    // The folder's entries on the disk, so that a file made or renamed in it stays there.
    virtual bool SyncFolder(const std::string& strFolder);

    static CFileOps& Instance();
    // Null restores the system's calls.
    static void SetInstance(CFileOps* pOps);
};

// The folder that holds strPath ("." for a bare name).
std::string FolderOf(const std::string& strPath);

// Puts the written file strTemp (open as nFd) in strTarget's place so that a power cut at any
// moment leaves the old file or the new one, whole: the new file is flushed to the disk, renamed
// over the old one, and the folder flushed. False with the reason in strError; strTemp is then
// still there for the caller to remove.
bool ReplaceDurably(
    int nFd, const std::string& strTemp, const std::string& strTarget, std::string& strError);
