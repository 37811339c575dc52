#include "../testfiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CWriter::CWriter(const std::string& strPath)
    : m_hFile(::open(strPath.c_str(), O_RDWR | O_CLOEXEC))
{
    m_bHolds = m_hFile >= 0 && ::flock(static_cast<int>(m_hFile), LOCK_EX | LOCK_NB) == 0;
}

CWriter::~CWriter()
{
    if (m_hFile >= 0)
        ::close(static_cast<int>(m_hFile));
}

const bool g_bOpenFilesCanBeReplaced = true;

std::vector<std::string> IrregularFiles(const std::string& strDir)
{
    const std::string strPipe = strDir + "/pipe.bin";
    ::mkfifo(strPipe.c_str(), 0600);
    return { strPipe, "/dev/null" };
}
