#pragma once

#include "portdiscovery.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A serial device that is there now, with what tells this plug-in from the next one.
struct SPresentDevice {
    SSerialDevice device;
    // Its node's path and identity: equal only while it stays plugged in, even when it was
    // pulled and plugged back in between two looks (the system makes the node anew).
    std::string strAppearance;
};

// Hot-plug as the window's port list sees it: the serial devices present, told at once and
// again each time the device folders have changed and settled. The calls come on a thread of
// the watch's own.
class CDeviceWatch {
public:
    using FDevices = std::function<void(std::vector<SPresentDevice>)>;

    CDeviceWatch();
    // Stops the watch.
    ~CDeviceWatch();
    CDeviceWatch(const CDeviceWatch&) = delete;
    CDeviceWatch& operator=(const CDeviceWatch&) = delete;

    // False when the system gives no means to watch.
    bool Start(const CPortRoots& roots, FDevices fnDevices);
    // Returns once no call of fnDevices is running or will come.
    void Stop();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_pImpl;
};
