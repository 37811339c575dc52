#include "../openfailure.h"

#include "../portdiscovery.h"
#include "../syserror.h"

#include <windows.h>

namespace {

// "COM3" of "\\.\COM3": the name the operator knows the port by. Other paths stay whole.
std::string ShortName(const std::string& strDevice)
{
    const std::string strPrefix = "\\\\.\\";
    return strDevice.compare(0, strPrefix.size(), strPrefix) == 0
        ? strDevice.substr(strPrefix.size())
        : strDevice;
}

void ExplainAbsent(const std::string& strName, const CPortRoots& roots, SOpenFailure& failure)
{
    failure.strReason = strName + " is not there";
    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(roots);
    if (devices.empty()) {
        failure.advice = { "no serial port is there now: plug in the adapter (it shows as a COM "
                           "port in the Device Manager)" };
        return;
    }
    failure.advice = { "it is unplugged, or has another number now" };
    for (const SSerialDevice& dev : devices)
        failure.present.emplace_back(dev.DisplayName(), dev.strPath);
}

} // namespace

std::vector<SPortHolder> PortHolders(const std::string& /*strDevice*/)
{
    // Windows does not tell which process has a port open.
    return {};
}

SOpenFailure ExplainOpenFailure(
    const std::string& strName, const std::string& strDevice, int nError, const CPortRoots& roots)
{
    SOpenFailure failure;
    const std::string strPort = ShortName(strDevice.empty() ? strName : strDevice);
    switch (nError) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        // A port is opened unshared: the one who has it keeps everyone else out.
        failure.strReason = strPort + " is in use by another program";
        failure.advice = { "close the program that has it open (a terminal, a serial monitor, "
                           "another download), then try again" };
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEVICE_NOT_CONNECTED:
        ExplainAbsent(strPort, roots, failure);
        break;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        failure.strReason = strPort + " is not a serial port";
        break;
    default:
        failure.strReason = strPort + ": " + SystemErrorText(nError);
        break;
    }
    return failure;
}
