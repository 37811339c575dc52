#include "imagesnapshot.h"

#include "downloadengine.h"
#include "sha256.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::string OpenImage(const std::string& strPath, CImageFile& file)
{
    struct stat st { };
    if (stat(strPath.c_str(), &st) != 0)
        return "cannot open image " + strPath + ": " + strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "cannot open image " + strPath + ": not a regular file";
    if (!file.Open(strPath))
        return "cannot open image " + strPath + ": unreadable or locked by a writer";
    if (file.GetLength() == 0)
        return "image " + strPath + " is empty";
    return std::string();
}

std::string CImageSnapshot::Read(const std::string& strPath)
{
    m_strPath = strPath;
    const std::string strRefusal = OpenImage(strPath, m_file);
    if (!strRefusal.empty())
        return strRefusal;
    const uint64_t nLength = m_file.GetLength();
    if (nLength > BREM_IMAGE_MAX)
        return "image " + strPath + " is over 64 MiB";
    auto pBytes = std::make_shared<std::vector<unsigned char>>(nLength);
    const SImageStamp stamp = m_file.Stamp();
    unsigned char cExtra = 0;
    // A writer at work shows as a short read, a byte past the length or a moved stamp.
    if (m_file.Read(pBytes->data(), static_cast<uint32_t>(nLength)) != nLength
        || m_file.Read(&cExtra, 1) != 0 || m_file.Stamp() != stamp)
        return "image " + strPath + " changed while it was read";
    m_strSha256 = Sha256Hex(pBytes->data(), pBytes->size());
    if (m_strSha256.empty())
        return "cannot compute the SHA-256 of image " + strPath;
    m_pBytes = std::move(pBytes);
    return std::string();
}

bool CSnapshotView::Open(const std::string& strPath)
{
    Close();
    m_bOpen = m_snapshot.Bytes() && strPath == m_snapshot.Path();
    return m_bOpen;
}

uint32_t CSnapshotView::Read(void* pBuffer, uint32_t nCount)
{
    if (!m_bOpen || m_nPos >= m_snapshot.Size())
        return 0;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(nCount, m_snapshot.Size() - m_nPos));
    memcpy(pBuffer, m_snapshot.Bytes()->data() + m_nPos, n);
    m_nPos += n;
    return n;
}

void CSnapshotView::Close()
{
    m_bOpen = false;
    m_nPos = 0;
}

SImageStamp CSnapshotView::Stamp() const
{
    return m_bOpen ? m_snapshot.File().Stamp() : SImageStamp();
}

bool CSnapshotView::Holds(const unsigned char* pBytes, uint64_t nCount) const
{
    return m_bOpen && m_snapshot.File().Holds(pBytes, nCount);
}

std::shared_ptr<const std::vector<unsigned char>> CSnapshotView::SharedBytes() const
{
    return m_bOpen ? m_snapshot.Bytes() : nullptr;
}
