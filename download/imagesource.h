#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What an image file looks like from outside: the file the path names and the one held open,
// the size and the modification and change times. Equal stamps do not prove equal content:
// a coarse file-system clock can put two writes in one tick.
struct SImageStamp {
    uint64_t m_nDev = 0;
    uint64_t m_nIno = 0;
    uint64_t m_nPathDev = 0;
    uint64_t m_nPathIno = 0;
    uint64_t m_nSize = 0;
    int64_t m_nModifiedNs = 0;
    int64_t m_nChangedNs = 0;

    bool operator==(const SImageStamp& other) const
    {
        return m_nDev == other.m_nDev && m_nIno == other.m_nIno && m_nPathDev == other.m_nPathDev
            && m_nPathIno == other.m_nPathIno && m_nSize == other.m_nSize
            && m_nModifiedNs == other.m_nModifiedNs && m_nChangedNs == other.m_nChangedNs;
    }
    bool operator!=(const SImageStamp& other) const { return !(*this == other); }
};

// The firmware image as the download engine reads it: the file on disk in the programs, bytes
// in memory where a test or the fuzz target wants speed and control.
class CImageSource {
public:
    virtual ~CImageSource() = default;

    // False when the file is missing, unreadable, not a regular file or held by a writer.
    virtual bool Open(const std::string& strPath) = 0;
    // Reads up to nCount bytes at the current position; 0 at the end, on error or when closed.
    virtual uint32_t Read(void* pBuffer, uint32_t nCount) = 0;
    virtual void SeekToBegin() = 0;
    virtual uint64_t GetLength() const = 0;
    // No effect when nothing is open.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Cheap, for every frame; a default stamp when nothing is open.
    virtual SImageStamp Stamp() const = 0;
    // Reads whatever the path opened names now, from its start, and tells whether it holds
    // exactly these bytes and no more. False when it cannot be read.
    virtual bool Holds(const unsigned char* pBytes, uint64_t nCount) const = 0;
    // The whole image, when the source already holds it read: downloads that run at once then
    // share one copy instead of each reading its own. Null for a source read frame by frame.
    virtual std::shared_ptr<const std::vector<unsigned char>> SharedBytes() const
    {
        return nullptr;
    }
};
