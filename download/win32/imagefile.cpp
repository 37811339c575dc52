#include "../imagefile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace {

// Shared for reading only: a writer cannot open the file while we hold it, nor we while it does.
HANDLE OpenRegular(const std::string& strPath)
{
    HANDLE hFile = ::CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE && ::GetFileType(hFile) != FILE_TYPE_DISK) {
        ::CloseHandle(hFile);
        return INVALID_HANDLE_VALUE;
    }
    return hFile;
}

uint32_t ReadFully(HANDLE hFile, unsigned char* pOut, uint32_t nCount)
{
    uint32_t nDone = 0;
    while (nDone < nCount) {
        DWORD nRead = 0;
        if (!::ReadFile(hFile, pOut + nDone, nCount - nDone, &nRead, nullptr) || nRead == 0)
            break;
        nDone += nRead;
    }
    return nDone;
}

int64_t Nanoseconds(const LARGE_INTEGER& time)
{
    // File times count 100 ns.
    return time.QuadPart * 100;
}

HANDLE HandleOf(intptr_t hFile)
{
    return reinterpret_cast<HANDLE>(hFile);
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
    HANDLE hFile = OpenRegular(strPath);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    m_hFile = reinterpret_cast<intptr_t>(hFile);
    m_strPath = strPath;
    return true;
}

uint32_t CImageFile::Read(void* pBuffer, uint32_t nCount)
{
    if (m_hFile == g_hNoFile)
        return 0;
    return ReadFully(HandleOf(m_hFile), static_cast<unsigned char*>(pBuffer), nCount);
}

void CImageFile::SeekToBegin()
{
    if (m_hFile != g_hNoFile)
        ::SetFilePointerEx(HandleOf(m_hFile), LARGE_INTEGER {}, nullptr, FILE_BEGIN);
}

uint64_t CImageFile::GetLength() const
{
    LARGE_INTEGER nSize {};
    if (m_hFile == g_hNoFile || !::GetFileSizeEx(HandleOf(m_hFile), &nSize) || nSize.QuadPart < 0)
        return 0;
    return static_cast<uint64_t>(nSize.QuadPart);
}

void CImageFile::Close()
{
    if (m_hFile == g_hNoFile)
        return;
    ::CloseHandle(HandleOf(m_hFile));
    m_hFile = g_hNoFile;
    m_strPath.clear();
}

SImageStamp CImageFile::Stamp() const
{
    SImageStamp stamp;
    BY_HANDLE_FILE_INFORMATION info {};
    FILE_BASIC_INFO basic {};
    if (m_hFile == g_hNoFile || !::GetFileInformationByHandle(HandleOf(m_hFile), &info)
        || !::GetFileInformationByHandleEx(HandleOf(m_hFile), FileBasicInfo, &basic, sizeof basic))
        return stamp;
    stamp.m_nDev = info.dwVolumeSerialNumber;
    stamp.m_nIno = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.m_nSize = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.m_nModifiedNs = Nanoseconds(basic.LastWriteTime);
    stamp.m_nChangedNs = Nanoseconds(basic.ChangeTime);
    // Which file the path names now; opened for no access, so that nobody is kept out.
    HANDLE hPath = ::CreateFileA(m_strPath.c_str(), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION pathInfo {};
    if (hPath != INVALID_HANDLE_VALUE) {
        if (::GetFileInformationByHandle(hPath, &pathInfo)) {
            stamp.m_nPathDev = pathInfo.dwVolumeSerialNumber;
            stamp.m_nPathIno = (uint64_t(pathInfo.nFileIndexHigh) << 32) | pathInfo.nFileIndexLow;
        }
        ::CloseHandle(hPath);
    }
    return stamp;
}

bool CImageFile::Holds(const unsigned char* pBytes, uint64_t nCount) const
{
    if (m_hFile == g_hNoFile)
        return false;
    HANDLE hFile = OpenRegular(m_strPath);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    unsigned char buffer[65536];
    bool bSame = true;
    for (uint64_t nDone = 0; bSame && nDone < nCount;) {
        const auto nWant = static_cast<uint32_t>(std::min<uint64_t>(sizeof buffer, nCount - nDone));
        bSame = ReadFully(hFile, buffer, nWant) == nWant
            && std::memcmp(buffer, pBytes + nDone, nWant) == 0;
        nDone += nWant;
    }
    // Nothing may follow: a file that grew holds more than was sent.
    bSame = bSame && ReadFully(hFile, buffer, 1) == 0;
    ::CloseHandle(hFile);
    return bSame;
}
