#pragma once

#include <cstdint>
#include <string>

// The firmware image on disk: opened read-only and held exclusively (an advisory lock is
// the most Linux offers), read front to back, closed when the download ends.
class CImageFile {
public:
    CImageFile() = default;
    ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    // False when the file is missing, unreadable, not a regular file or held by someone else.
    bool Open(const std::string& strPath);
    // Reads up to nCount bytes at the current position; 0 at the end, on error or when closed.
    uint32_t Read(void* pBuffer, uint32_t nCount);
    void SeekToBegin();
    uint64_t GetLength() const;
    // No effect when nothing is open.
    void Close();
    bool IsOpen() const { return m_nFd >= 0; }

private:
    int m_nFd = -1;
};
