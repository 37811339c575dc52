#pragma once

#include "imagefile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Opens the image for a download; "" when it can be downloaded, else why not ("cannot open
// image PATH: reason", "image PATH is empty").
std::string OpenImage(const std::string& strPath, CImageFile& file);

// The image a station flashes, read once and whole. The file stays open under its shared lock
// while the station runs, so that a writer that locks it stays out; each download sends these
// bytes and checks that the file still holds them, before it starts and after its last frame.
class CImageSnapshot {
public:
    // "" when the image was read, else why it cannot be flashed.
    std::string Read(const std::string& strPath);

    const std::string& Path() const { return m_strPath; }
    uint64_t Size() const { return m_pBytes ? m_pBytes->size() : 0; }
    const std::string& Sha256() const { return m_strSha256; }
    const std::shared_ptr<const std::vector<unsigned char>>& Bytes() const { return m_pBytes; }
    const CImageFile& File() const { return m_file; }

private:
    std::string m_strPath;
    CImageFile m_file;
    std::shared_ptr<const std::vector<unsigned char>> m_pBytes;
    std::string m_strSha256;
};

// One download's image: the snapshot, opened and read the way the engine reads a file. Views
// of one snapshot may be used on different threads at once.
class CSnapshotView : public CImageSource {
public:
    explicit CSnapshotView(const CImageSnapshot& snapshot)
        : m_snapshot(snapshot)
    { }

    bool Open(const std::string& strPath) override;
    uint32_t Read(void* pBuffer, uint32_t nCount) override;
    void SeekToBegin() override { m_nPos = 0; }
    uint64_t GetLength() const override { return m_bOpen ? m_snapshot.Size() : 0; }
    void Close() override;
    bool IsOpen() const override { return m_bOpen; }
    SImageStamp Stamp() const override;
    bool Holds(const unsigned char* pBytes, uint64_t nCount) const override;
    std::shared_ptr<const std::vector<unsigned char>> SharedBytes() const override;

private:
    const CImageSnapshot& m_snapshot;
    bool m_bOpen = false;
    uint64_t m_nPos = 0;
};
