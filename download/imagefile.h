#pragma once

#include "imagesource.h"

#include <cstdint>
#include <string>

// The firmware image on disk: opened read-only under a shared advisory lock (on Windows: shared
// for reading only), so several downloads may read one file at once while a writer that locks
// it is kept out.
class CImageFile : public CImageSource {
public:
    CImageFile() = default;
    ~CImageFile() override;
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    bool Open(const std::string& strPath) override;
    uint32_t Read(void* pBuffer, uint32_t nCount) override;
    void SeekToBegin() override;
    uint64_t GetLength() const override;
    void Close() override;
    bool IsOpen() const override { return m_hFile != g_hNoFile; }
    SImageStamp Stamp() const override;
    bool Holds(const unsigned char* pBytes, uint64_t nCount) const override;

private:
    static constexpr intptr_t g_hNoFile = -1;
    intptr_t m_hFile = g_hNoFile; // a descriptor, or a Windows file HANDLE
    std::string m_strPath;
};
