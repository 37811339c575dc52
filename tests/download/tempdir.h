#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

// A directory of its own per test, removed with everything in it.
class CTempDir {
public:
    CTempDir()
    {
        char szTemplate[] = "/tmp/brem-download-XXXXXX";
        m_strPath = mkdtemp(szTemplate) ? szTemplate : "";
    }
    ~CTempDir()
    {
        if (!m_strPath.empty())
            std::system(("rm -rf '" + m_strPath + "'").c_str());
    }
    const std::string& Path() const { return m_strPath; }

    // Writes the bytes, then grows the file to nLength (sparse) when nLength is larger.
    std::string Write(const std::string& strName, const std::vector<unsigned char>& vData,
        off_t nLength = 0) const
    {
        std::string strFile = m_strPath + "/" + strName;
        int nFd = ::open(strFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (nFd < 0)
            return strFile;
        if (!vData.empty() && ::write(nFd, vData.data(), vData.size()) < 0)
            strFile.clear();
        if (nLength > static_cast<off_t>(vData.size()) && ::ftruncate(nFd, nLength) != 0)
            strFile.clear();
        ::close(nFd);
        return strFile;
    }

private:
    std::string m_strPath;
};
