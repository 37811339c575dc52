#include "../portlisting.h"

#include "portdiscovery.h"

std::string PortListing(const CPortRoots& roots)
{
    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(roots);
    if (devices.empty())
        return "Serial ports: none (an adapter shows here as a COM port once plugged in)\n";
    std::string strOut = "Serial ports:\n";
    for (const SSerialDevice& dev : devices) {
        strOut += "  " + dev.DisplayName() + "\n    " + dev.strPath + "\n";
        if (dev.IsUsb()) {
            strOut += "    USB " + dev.strVendorId + ":" + dev.strProductId
                + (dev.strManufacturer.empty() ? "" : ", " + dev.strManufacturer) + "\n";
        }
    }
    return strOut;
}
