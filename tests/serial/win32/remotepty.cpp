#include "remotepty.h"

// In this order: winsock2.h before windows.h, which tlhelp32.h needs.
#include <winsock2.h>

#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

namespace {

std::mutex g_mx;
SOCKET g_hSocket = INVALID_SOCKET;
std::string g_strPending;

void Connect()
{
    const char* szPort = std::getenv("BREM_PTYHOST");
    if (!szPort)
        throw std::runtime_error("BREM_PTYHOST is not set: run under ptyhost");
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        throw std::runtime_error("no sockets");
    g_hSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(std::atoi(szPort)));
    if (g_hSocket == INVALID_SOCKET
        || ::connect(g_hSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot reach ptyhost");
}

} // namespace

bool PtyHostRequest(const std::string& strRequest, std::string& strAnswer)
{
    std::lock_guard<std::mutex> lock(g_mx);
    if (g_hSocket == INVALID_SOCKET)
        Connect();
    const std::string strLine = strRequest + "\n";
    for (size_t nSent = 0; nSent < strLine.size();) {
        const int n = ::send(
            g_hSocket, strLine.data() + nSent, static_cast<int>(strLine.size() - nSent), 0);
        if (n <= 0)
            throw std::runtime_error("ptyhost has gone");
        nSent += static_cast<size_t>(n);
    }
    size_t nEnd;
    while ((nEnd = g_strPending.find('\n')) == std::string::npos) {
        char a[65536];
        const int n = ::recv(g_hSocket, a, sizeof a, 0);
        if (n <= 0)
            throw std::runtime_error("ptyhost has gone");
        g_strPending.append(a, static_cast<size_t>(n));
    }
    const std::string strLineIn = g_strPending.substr(0, nEnd);
    g_strPending.erase(0, nEnd + 1);
    const bool bOk = strLineIn.compare(0, 2, "ok") == 0;
    strAnswer = strLineIn.size() > 3 ? strLineIn.substr(3) : std::string();
    return bOk;
}

size_t ProcessHandles()
{
    DWORD nCount = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &nCount);
    return nCount;
}

size_t ProcessThreads()
{
    HANDLE hSnapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return 0;
    size_t nCount = 0;
    THREADENTRY32 entry {};
    entry.dwSize = sizeof entry;
    for (BOOL bMore = ::Thread32First(hSnapshot, &entry); bMore;
         bMore = ::Thread32Next(hSnapshot, &entry))
        nCount += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(hSnapshot);
    return nCount;
}
