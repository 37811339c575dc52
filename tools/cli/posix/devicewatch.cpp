#include "../devicewatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// udev makes the node, then its links, group and mode, within milliseconds: look once after.
constexpr int g_nSettleMs = 150;
// Without inotify the folders are looked at this often instead.
constexpr int g_nRescanMs = 1000;

constexpr uint32_t g_nEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;

std::vector<SPresentDevice> Present(const CPortRoots& roots)
{
    std::vector<SPresentDevice> present;
    for (SSerialDevice& dev : DiscoverSerialDevices(roots)) {
        struct stat st { };
        std::string strNode;
        if (lstat(dev.strPath.c_str(), &st) == 0)
            strNode = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
        // Not its lasting key: udev adds and removes the by-id link a moment apart from the node,
        // and a look in between must not take the same plug-in for a new one.
        present.push_back({ dev, dev.strPath + "@" + strNode });
    }
    return present;
}

} // namespace

struct CDeviceWatch::SImpl {
    CPortRoots roots;
    FDevices fnDevices;
    int nInotify = -1;
    int nWake = -1;
    std::thread thread;

    // Folders that appear later (serial/by-id comes with the first adapter) join on each look.
    void Watch()
    {
        if (nInotify < 0)
            return;
        for (const std::string& strDir : { roots.strDev, roots.strDev + "/serial",
                 roots.strDev + "/serial/by-id", roots.PortsDir() })
            inotify_add_watch(nInotify, strDir.c_str(), g_nEvents | IN_ONLYDIR);
    }

    void Run()
    {
        using Clock = std::chrono::steady_clock;
        Watch();
        fnDevices(Present(roots));
        bool bSettling = false;
        Clock::time_point tpLook;
        for (;;) {
            int nTimeout = nInotify < 0 ? g_nRescanMs : -1;
            if (bSettling) {
                const auto msLeft
                    = std::chrono::duration_cast<std::chrono::milliseconds>(tpLook - Clock::now());
                nTimeout = static_cast<int>(std::max<int64_t>(0, msLeft.count() + 1));
            }
            pollfd afd[2] = { { nWake, POLLIN, 0 }, { nInotify, POLLIN, 0 } };
            const int nReady = poll(afd, nInotify < 0 ? 1 : 2, nTimeout);
            if (nReady < 0 && errno == EINTR)
                continue;
            if (nReady < 0 || (afd[0].revents & POLLIN))
                return;
            if (nReady > 0 && (afd[1].revents & POLLIN)) {
                char buffer[4096];
                while (read(nInotify, buffer, sizeof buffer) > 0) { }
                if (!bSettling)
                    tpLook = Clock::now() + std::chrono::milliseconds(g_nSettleMs);
                bSettling = true;
                if (Clock::now() < tpLook)
                    continue;
            }
            bSettling = false;
            Watch();
            fnDevices(Present(roots));
        }
    }
};

CDeviceWatch::CDeviceWatch()
    : m_pImpl(std::make_unique<SImpl>())
{ }

CDeviceWatch::~CDeviceWatch()
{
    Stop();
}

bool CDeviceWatch::Start(const CPortRoots& roots, FDevices fnDevices)
{
    Stop();
    m_pImpl->roots = roots;
    m_pImpl->fnDevices = std::move(fnDevices);
    m_pImpl->nWake = eventfd(0, EFD_CLOEXEC);
    if (m_pImpl->nWake < 0)
        return false;
    m_pImpl->nInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_pImpl->thread = std::thread([this]() { m_pImpl->Run(); });
    return true;
}

void CDeviceWatch::Stop()
{
    if (!m_pImpl->thread.joinable())
        return;
    const uint64_t nOne = 1;
    while (write(m_pImpl->nWake, &nOne, sizeof nOne) < 0 && errno == EINTR) { }
    m_pImpl->thread.join();
    for (int* pFd : { &m_pImpl->nInotify, &m_pImpl->nWake }) {
        if (*pFd >= 0)
            close(*pFd);
        *pFd = -1;
    }
}
