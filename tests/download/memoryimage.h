#pragma once

#include "imagesource.h"

#include <algorithm>
#include <cstring>
#include <vector>

// An image file held in memory, for the engine's tests and its fuzz target: fast, and it can
// change under the engine the ways a file on disk can, coarse clock included.
class CMemoryImage : public CImageSource {
public:
    bool Open(const std::string& strPath) override
    {
        Close();
        if (strPath != m_strPath || !m_bExists)
            return false;
        m_bOpen = true;
        return true;
    }
    uint32_t Read(void* pBuffer, uint32_t nCount) override
    {
        if (!m_bOpen || m_nPos >= m_vBytes.size())
            return 0;
        const auto n = static_cast<uint32_t>(std::min<size_t>(nCount, m_vBytes.size() - m_nPos));
        memcpy(pBuffer, m_vBytes.data() + m_nPos, n);
        m_nPos += n;
        return n;
    }
    void SeekToBegin() override { m_nPos = 0; }
    uint64_t GetLength() const override { return m_bOpen ? m_vBytes.size() : 0; }
    void Close() override
    {
        m_bOpen = false;
        m_nPos = 0;
    }
    bool IsOpen() const override { return m_bOpen; }
    SImageStamp Stamp() const override
    {
        SImageStamp stamp;
        if (m_bOpen) {
            stamp.m_nPathIno = m_bExists ? 1 : 0;
            stamp.m_nSize = m_vBytes.size();
            stamp.m_nModifiedNs = m_nTick;
        }
        return stamp;
    }
    bool Holds(const unsigned char* pBytes, uint64_t nCount) const override
    {
        return m_bOpen && m_bExists && nCount == m_vBytes.size()
            && (nCount == 0 || memcmp(pBytes, m_vBytes.data(), nCount) == 0);
    }

    // A write: the clock moves on unless bSameTick.
    void Change(const std::vector<unsigned char>& vBytes, bool bSameTick)
    {
        m_vBytes = vBytes;
        if (!bSameTick)
            ++m_nTick;
    }

    std::string m_strPath = "image.bin";
    std::vector<unsigned char> m_vBytes;
    bool m_bExists = true;

private:
    bool m_bOpen = false;
    size_t m_nPos = 0;
    int64_t m_nTick = 0;
};
