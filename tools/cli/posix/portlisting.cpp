#include "../portlisting.h"

#include "portdiscovery.h"

#include <cstdio>

std::string PortListing(const CPortRoots& roots)
{
    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(roots);
    std::string strOut;
    if (devices.empty())
        strOut
            += "Serial devices: none (an adapter shows here as ttyUSB or ttyACM once plugged in)\n";
    else
        strOut += "Serial devices:\n";
    for (const SSerialDevice& dev : devices) {
        strOut += "  " + dev.DisplayName() + "\n    " + dev.strPath + "\n";
        if (!dev.strById.empty())
            strOut += "    " + SanitizedLabel(dev.strById, 256) + "\n";
        if (dev.IsUsb()) {
            strOut += "    USB " + dev.strVendorId + ":" + dev.strProductId
                + (dev.strManufacturer.empty() ? "" : ", " + dev.strManufacturer) + "\n";
        }
    }

    strOut += "COM ports (links in " + SanitizedLabel(roots.PortsDir(), 256)
        + "; COMn without one is " + roots.strDev + "/ttyS<n-1>):\n";
    for (const SComMapping& com : ComMappings(roots, devices)) {
        const std::string strWhere = com.strLinkTarget.empty()
            ? com.strDevice
            : "-> " + SanitizedLabel(com.strLinkTarget, 256);
        const std::string strWhat = com.pDevice ? "present: " + com.pDevice->DisplayName()
            : !com.bExists                      ? "absent"
            : !com.strLinkTarget.empty()        ? "present"
                                                : "no UART there";
        char szName[16];
        std::snprintf(szName, sizeof szName, "%-6s", ("COM" + std::to_string(com.nPort)).c_str());
        strOut += "  " + std::string(szName) + strWhere + "  " + strWhat + "\n";
    }
    return strOut;
}
