#include "../testfiles.h"

#include <windows.h>

CWriter::CWriter(const std::string& strPath)
{
    HANDLE hFile = ::CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_hFile = reinterpret_cast<intptr_t>(hFile);
    m_bHolds = hFile != INVALID_HANDLE_VALUE;
}

CWriter::~CWriter()
{
    if (m_bHolds)
        ::CloseHandle(reinterpret_cast<HANDLE>(m_hFile));
}

const bool g_bOpenFilesCanBeReplaced = false;

std::vector<std::string> IrregularFiles(const std::string& strDir)
{
    // A device, and a folder.
    return { "\\\\.\\NUL", strDir };
}
