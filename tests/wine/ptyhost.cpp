// ptyhost --com-dir DIR -- PROGRAM ARGS...: runs PROGRAM (a Windows test under wine-run) and
// plays the device end of its COM ports: on the program's word, sent over a TCP connection on
// the loopback (its port in $BREM_PTYHOST), it makes pseudo-terminals, links DIR/COMn to them
// and sends, receives, floods or hangs up. Exits with the program's status.
//
// One request a line, one answer a line: "open" -> "ok N"; "close N"; "send N HEX";
// "recv N COUNT MS" -> "ok HEX"; "hangup N"; "flood N COUNT"; "stopflood N"; "queued N" ->
// "ok COUNT"; "waitqueued N MS" -> "ok 0|1"; "hold N 0|1" -> "ok 0|1"; "line N" -> "ok BAUD
// FLAGS... CONTROL". Anything else, or a port not open: "err ...".
#include "testpty.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>

namespace {

constexpr unsigned g_nPorts = 4; // COM1 to COM4; the e2e tests use the others

std::mutex g_mx;
std::map<unsigned, std::shared_ptr<CTestPty>> g_ptys;
std::string g_strComDir;

std::string Hex(const Bytes& bytes)
{
    static const char g_szHex[] = "0123456789abcdef";
    std::string str;
    for (unsigned char c : bytes) {
        str += g_szHex[c >> 4];
        str += g_szHex[c & 15];
    }
    return str;
}

bool FromHex(const std::string& str, Bytes& bytes)
{
    if (str.size() % 2)
        return false;
    for (size_t i = 0; i < str.size(); i += 2) {
        unsigned n = 0;
        if (std::sscanf(str.c_str() + i, "%2x", &n) != 1)
            return false;
        bytes.push_back(static_cast<unsigned char>(n));
    }
    return true;
}

std::shared_ptr<CTestPty> Pty(unsigned n)
{
    std::lock_guard<std::mutex> lock(g_mx);
    auto it = g_ptys.find(n);
    return it == g_ptys.end() ? nullptr : it->second;
}

std::string Serve(const std::string& strLine)
{
    std::istringstream in(strLine);
    std::string strVerb;
    unsigned n = 0;
    in >> strVerb;
    if (strVerb == "open") {
        std::lock_guard<std::mutex> lock(g_mx);
        for (n = 1; n <= g_nPorts && g_ptys.count(n); ++n) { }
        if (n > g_nPorts)
            return "err no COM port free";
        g_ptys[n] = std::make_shared<CTestPty>(g_strComDir + "/COM" + std::to_string(n));
        return "ok " + std::to_string(n);
    }
    in >> n;
    std::shared_ptr<CTestPty> pPty = Pty(n);
    if (!pPty)
        return "err COM" + std::to_string(n) + " is not open";
    CTestPty& pty = *pPty;
    std::ostringstream out;
    out << "ok";
    if (strVerb == "close") {
        std::lock_guard<std::mutex> lock(g_mx);
        g_ptys.erase(n);
        ::unlink((g_strComDir + "/COM" + std::to_string(n)).c_str());
    } else if (strVerb == "send") {
        std::string strHex;
        Bytes bytes;
        in >> strHex;
        if (!FromHex(strHex, bytes) || !pty.Send(bytes))
            return "err not sent";
    } else if (strVerb == "recv") {
        size_t nCount = 0;
        int nMs = 0;
        in >> nCount >> nMs;
        out << " " << Hex(pty.Receive(nCount, nMs));
    } else if (strVerb == "hangup") {
        pty.CloseMaster();
    } else if (strVerb == "flood") {
        uint64_t nCount = 0;
        in >> nCount;
        pty.Flood(nCount);
    } else if (strVerb == "stopflood") {
        pty.StopFlood();
    } else if (strVerb == "queued") {
        out << " " << pty.Queued();
    } else if (strVerb == "waitqueued") {
        int nMs = 0;
        in >> nMs;
        out << " " << pty.WaitQueued(nMs);
    } else if (strVerb == "hold") {
        int bHold = 0;
        in >> bHold;
        out << " " << pty.Hold(bHold != 0);
    } else if (strVerb == "line") {
        const SLineState s = pty.LineState();
        out << " " << s.nBaud << " " << s.bTwoStopBits << s.bLocal << s.bReceiver << s.bHardwareFlow
            << s.bCanonical << s.bEcho << s.bSignals << s.bSoftwareFlow << " " << s.nControl;
    } else {
        return "err unknown request";
    }
    return out.str();
}

void ServeConnection(int hSocket)
{
    std::string strIn;
    char a[65536];
    for (;;) {
        const ssize_t nRead = ::recv(hSocket, a, sizeof a, 0);
        if (nRead <= 0)
            break;
        strIn.append(a, static_cast<size_t>(nRead));
        for (size_t nEnd; (nEnd = strIn.find('\n')) != std::string::npos;) {
            const std::string strAnswer = Serve(strIn.substr(0, nEnd)) + "\n";
            strIn.erase(0, nEnd + 1);
            if (::send(hSocket, strAnswer.data(), strAnswer.size(), MSG_NOSIGNAL) < 0)
                break;
        }
    }
    ::close(hSocket);
}

} // namespace

int main(int argc, char** argv)
{
    int nFirst = 1;
    if (argc > 3 && std::string(argv[1]) == "--com-dir" && std::string(argv[3]) == "--") {
        g_strComDir = argv[2];
        nFirst = 4;
    }
    if (g_strComDir.empty() || nFirst >= argc) {
        std::fprintf(stderr, "usage: ptyhost --com-dir DIR -- PROGRAM ARGS...\n");
        return 2;
    }
    const int hListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof addr;
    if (hListen < 0 || ::bind(hListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(hListen, 4) != 0
        || ::getsockname(hListen, reinterpret_cast<sockaddr*>(&addr), &nLength) != 0) {
        std::perror("ptyhost: listen");
        return 1;
    }
    ::setenv("BREM_PTYHOST", std::to_string(ntohs(addr.sin_port)).c_str(), 1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp(argv[nFirst], argv + nFirst);
        std::perror("ptyhost: exec");
        _exit(127);
    }
    // Connections are served until the program has ended.
    std::thread([hListen] {
        for (;;) {
            const int hSocket = ::accept4(hListen, nullptr, nullptr, SOCK_CLOEXEC);
            if (hSocket >= 0)
                std::thread(ServeConnection, hSocket).detach();
        }
    }).detach();
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0 && errno == EINTR) { }
    {
        std::lock_guard<std::mutex> lock(g_mx);
        for (const auto& [n, pPty] : g_ptys)
            ::unlink((g_strComDir + "/COM" + std::to_string(n)).c_str());
    }
    std::fflush(stdout);
    // Threads may still serve: leave without running destructors under them.
    _exit(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus));
}
