#pragma once

#include "portnames.h"

#include <string>
#include <vector>

// One serial device that is there now: a USB adapter or a UART with hardware behind it.
// Texts read from the device (manufacturer, product, serial) are bounded and hold no control
// characters.
struct SSerialDevice {
    std::string strName; // "ttyUSB0"
    std::string strPath; // "/dev/ttyUSB0", under the roots' device folder
    std::string strById; // its link in serial/by-id, "" when it has none
    std::string strVendorId, strProductId; // "0403", "6001"; "" when it is not on USB
    std::string strManufacturer, strProduct, strSerial;
    std::vector<std::string> comNames; // the operator's COM<n> links that reach it

    bool IsUsb() const { return !strVendorId.empty(); }
    // What identifies the device across an unplug: its by-id name, else its USB serial number,
    // else its path.
    std::string Key() const;
    // "FT232R USB UART (A50285BI)", "USB 1a86:7523", "built-in serial port" (or the system's
    // own name for it, where it has one).
    std::string Label() const;
    // "ttyUSB0 — FT232R USB UART (A50285BI)".
    std::string DisplayName() const;
};

// The serial devices present under the roots, in natural name order (ttyUSB2 before ttyUSB10).
// Terminals without hardware are left out: virtual consoles, and the UART places a serial driver
// registers whether or not a chip answers there.
std::vector<SSerialDevice> DiscoverSerialDevices(const CPortRoots& roots);

// The device among those whose node is strPath, or that strPath (a link) leads to; null if none.
const SSerialDevice* FindSerialDevice(
    const std::vector<SSerialDevice>& devices, const std::string& strPath);

// One COM<n> as the port list offers it: where it leads and what is there.
struct SComMapping {
    unsigned nPort;
    std::string strDevice; // ResolvePortName's answer
    std::string strLinkTarget; // the link's own text when the ports folder has one, else ""
    const SSerialDevice* pDevice; // the discovered device it reaches, or null
    bool bExists; // something is there to open (for a link: its target exists)
};
std::vector<SComMapping> ComMappings(
    const CPortRoots& roots, const std::vector<SSerialDevice>& devices, unsigned nCount = 20);

// "ttyUSB2" before "ttyUSB10", "COM2" before "COM10": digit runs compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b);

// Control characters, malformed UTF-8 and anything past nMax characters replaced or cut, so
// that a device's own strings are safe to print on a terminal.
std::string SanitizedLabel(const std::string& strText, size_t nMax = 64);
