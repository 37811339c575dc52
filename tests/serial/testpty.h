#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A pseudo-terminal whose master end plays the device; the slave is the port Brem opens.
class CTestPty {
public:
    // strLink, if given, is made a link to the slave, as a ports-directory COMn entry would be.
    explicit CTestPty(const std::string& strLink = {})
    {
        char szName[128] = {};
        if (::openpty(&m_hMaster, &m_hSlave, szName, nullptr, nullptr) < 0)
            throw std::runtime_error("openpty failed");
        m_strSlave = szName;
        ::fcntl(m_hMaster, F_SETFL, ::fcntl(m_hMaster, F_GETFL) | O_NONBLOCK);
        // Raw from the start, so the settings restored at close do not echo.
        termios tio;
        ::tcgetattr(m_hSlave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_hSlave, TCSANOW, &tio);
        if (!strLink.empty()) {
            ::unlink(strLink.c_str());
            if (::symlink(szName, strLink.c_str()) != 0)
                throw std::runtime_error("symlink failed");
        }
    }
    ~CTestPty()
    {
        CloseMaster();
        ::close(m_hSlave);
    }
    int Master() const { return m_hMaster; }
    int Slave() const { return m_hSlave; }
    const std::string& SlavePath() const { return m_strSlave; }
    void CloseMaster()
    {
        if (m_hMaster >= 0)
            ::close(m_hMaster);
        m_hMaster = -1;
    }
    bool Send(const Bytes& bytes)
    {
        return ::write(m_hMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads from the master until nCount bytes came or nMs passed; nMs 0 takes what is there.
    Bytes Receive(size_t nCount, int nMs = 5000)
    {
        Bytes bytes;
        const auto tpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMs);
        for (pollfd pfd = { m_hMaster, POLLIN, 0 }; bytes.size() < nCount;) {
            const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                tpEnd - std::chrono::steady_clock::now());
            if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(nLeft.count(), 0))) <= 0)
                break;
            unsigned char a[4096];
            const ssize_t n = ::read(m_hMaster, a, std::min(sizeof a, nCount - bytes.size()));
            if (n > 0)
                bytes.insert(bytes.end(), a, a + n);
            else if (errno != EAGAIN)
                break;
        }
        return bytes;
    }

private:
    int m_hMaster = -1;
    int m_hSlave = -1;
    std::string m_strSlave;
};
