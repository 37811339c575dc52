#include "../devicewatch.h"

#include <windows.h>

#include <cerrno>
#include <map>
#include <set>
#include <thread>

namespace {

// A port's driver names it in the device map a moment after its device appears: look once
// after.
constexpr DWORD g_nSettleMs = 150;
// Ports that come and go without the device map's word are found this often.
constexpr DWORD g_nRescanMs = 1000;

} // namespace

struct CDeviceWatch::SImpl {
    CPortRoots roots;
    FDevices fnDevices;
    HANDLE hStop = nullptr;
    HANDLE hChanged = nullptr;
    HKEY hDeviceMap = nullptr;
    std::thread thread;
    // How often each port has been seen to appear: a port that was gone at a look and is back
    // is a new plug-in, though Windows gives it the same name.
    std::map<std::string, unsigned> plugIns;
    std::set<std::string> lastPaths; // the ports present at the last look

    // The device map (each port driver's entry under SERIALCOMM) tells of every change; the
    // notice must be asked for again after each one.
    bool AskForNotice()
    {
        if (!hDeviceMap
            && ::RegOpenKeyExW(
                   HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP", 0, KEY_NOTIFY, &hDeviceMap)
                != ERROR_SUCCESS) {
            hDeviceMap = nullptr;
            return false;
        }
        return ::RegNotifyChangeKeyValue(hDeviceMap, TRUE,
                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, hChanged, TRUE)
            == ERROR_SUCCESS;
    }

    // Tells the devices when they differ from those told last.
    void Look(bool bAlways)
    {
        std::vector<SPresentDevice> present;
        std::set<std::string> paths;
        for (SSerialDevice& dev : DiscoverSerialDevices(roots)) {
            unsigned& nPlugIns = plugIns[dev.strPath];
            if (!lastPaths.count(dev.strPath))
                ++nPlugIns;
            paths.insert(dev.strPath);
            present.push_back({ dev, dev.strPath + "#" + std::to_string(nPlugIns) });
        }
        if (!bAlways && paths == lastPaths)
            return;
        lastPaths.swap(paths);
        fnDevices(std::move(present));
    }

    void Run()
    {
        bool bNotified = AskForNotice();
        Look(true);
        DWORD nTimeout = g_nRescanMs;
        for (;;) {
            const HANDLE ah[] = { hStop, hChanged };
            const DWORD nWait = ::WaitForMultipleObjects(bNotified ? 2 : 1, ah, FALSE, nTimeout);
            if (nWait == WAIT_OBJECT_0 || nWait == WAIT_FAILED)
                return;
            if (nWait == WAIT_OBJECT_0 + 1) {
                // Further notices within the settling time fold into the one look after it.
                bNotified = AskForNotice();
                nTimeout = g_nSettleMs;
                continue;
            }
            if (!bNotified)
                bNotified = AskForNotice();
            nTimeout = g_nRescanMs;
            Look(false);
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
    m_pImpl->plugIns.clear();
    m_pImpl->lastPaths.clear();
    m_pImpl->hStop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_pImpl->hChanged = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!m_pImpl->hStop || !m_pImpl->hChanged) {
        Stop();
        errno = ENOMEM;
        return false;
    }
    m_pImpl->thread = std::thread([this]() { m_pImpl->Run(); });
    return true;
}

void CDeviceWatch::Stop()
{
    if (m_pImpl->thread.joinable()) {
        ::SetEvent(m_pImpl->hStop);
        m_pImpl->thread.join();
    }
    if (m_pImpl->hDeviceMap)
        ::RegCloseKey(m_pImpl->hDeviceMap);
    m_pImpl->hDeviceMap = nullptr;
    for (HANDLE* ph : { &m_pImpl->hStop, &m_pImpl->hChanged }) {
        if (*ph)
            ::CloseHandle(*ph);
        *ph = nullptr;
    }
}
