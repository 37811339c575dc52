#pragma once

#include "portnames.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

// A sysfs and /dev laid out as the kernel and udev lay them out, in a temporary folder: USB
// adapters under their USB device, UARTs with and without a chip, by-id links, COM links.
class CFakeTree {
public:
    struct SUsb {
        std::string strName; // "ttyUSB0" or "ttyACM0"
        std::string strBus; // "1-2"
        std::string strVendor, strProduct, strManufacturer, strProductName, strSerial;
        std::string strById; // link name in dev/serial/by-id, "" for none
        std::string strNodeTarget = {}; // make the node a link to this (a pty), else a file
    };

    CFakeTree()
    {
        char szTemplate[] = "/tmp/brem-tree-XXXXXX";
        if (!::mkdtemp(szTemplate))
            throw std::runtime_error("mkdtemp failed");
        m_root = szTemplate;
        for (const char* szDir : { "sys/class/tty", "dev/serial/by-id", "ports" })
            std::filesystem::create_directories(m_root / szDir);
    }
    ~CFakeTree()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    CFakeTree(const CFakeTree&) = delete;
    CFakeTree& operator=(const CFakeTree&) = delete;

    CPortRoots Roots() const
    {
        return { (m_root / "sys").string(), (m_root / "dev").string(),
            (m_root / "ports").string() };
    }
    std::string Dev(const std::string& strName) const
    {
        return (m_root / "dev" / strName).string();
    }
    std::string ById(const std::string& strName) const
    {
        return (m_root / "dev/serial/by-id" / strName).string();
    }

    // ttyUSB (usb-serial: a port device under the interface) or ttyACM (CDC: the tty right
    // under the interface), with the USB device's strings two or three levels up.
    void AddUsb(const SUsb& usb)
    {
        namespace fs = std::filesystem;
        const fs::path usbDir = m_root / "sys/devices/pci0000:00/0000:00:14.0/usb1" / usb.strBus;
        const fs::path ifDir = usbDir / (usb.strBus + ":1.0");
        const bool bAcm = usb.strName.rfind("ttyACM", 0) == 0;
        const fs::path portDir = bAcm ? ifDir : ifDir / usb.strName;
        const fs::path ttyDir = portDir / "tty" / usb.strName;
        fs::create_directories(ttyDir);
        Write(usbDir / "idVendor", usb.strVendor);
        Write(usbDir / "idProduct", usb.strProduct);
        if (!usb.strManufacturer.empty())
            Write(usbDir / "manufacturer", usb.strManufacturer);
        if (!usb.strProductName.empty())
            Write(usbDir / "product", usb.strProductName);
        if (!usb.strSerial.empty())
            Write(usbDir / "serial", usb.strSerial);
        Write(ifDir / "bInterfaceNumber", "00");
        fs::create_symlink(fs::relative(portDir, ttyDir), ttyDir / "device");
        AddClassLink(usb.strName, ttyDir);
        if (!usb.strById.empty())
            fs::create_symlink("../../" + usb.strName, m_root / "dev/serial/by-id" / usb.strById);
        if (usb.strNodeTarget.empty())
            Write(m_root / "dev" / usb.strName, "");
        else
            fs::create_symlink(usb.strNodeTarget, m_root / "dev" / usb.strName);
    }

    // A UART place of the 8250 driver: nType 0 where no chip answered (the platform device
    // that holds every unused place), else a PnP device with a chip.
    void AddUart(const std::string& strName, int nType)
    {
        namespace fs = std::filesystem;
        const fs::path devDir = nType ? m_root / "sys/devices/pnp0" / ("00:0" + strName.substr(4))
                                      : m_root / "sys/devices/platform/serial8250";
        const fs::path ttyDir = devDir / "tty" / strName;
        fs::create_directories(ttyDir);
        Write(ttyDir / "type", std::to_string(nType));
        fs::create_symlink("../../../" + devDir.filename().string(), ttyDir / "device");
        AddClassLink(strName, ttyDir);
        Write(m_root / "dev" / strName, "");
    }

    // A terminal with no device behind it (a virtual console).
    void AddVirtual(const std::string& strName)
    {
        const std::filesystem::path ttyDir = m_root / "sys/devices/virtual/tty" / strName;
        std::filesystem::create_directories(ttyDir);
        AddClassLink(strName, ttyDir);
        Write(m_root / "dev" / strName, "");
    }

    // Unplugged: udev removes the links and the node, the kernel the sysfs entry.
    void Remove(const std::string& strName, const std::string& strById = {})
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (!strById.empty())
            fs::remove(m_root / "dev/serial/by-id" / strById, ec);
        fs::remove(m_root / "dev" / strName, ec);
        const fs::path ttyDir = fs::canonical(m_root / "sys/class/tty" / strName, ec);
        fs::remove(m_root / "sys/class/tty" / strName, ec);
        if (!ttyDir.empty())
            fs::remove_all(ttyDir, ec);
    }

    void LinkCom(unsigned n, const std::string& strTarget)
    {
        std::filesystem::create_symlink(strTarget, m_root / "ports" / ("COM" + std::to_string(n)));
    }

private:
    static void Write(const std::filesystem::path& path, const std::string& strText)
    {
        std::ofstream(path) << strText << (strText.empty() ? "" : "\n");
    }
    void AddClassLink(const std::string& strName, const std::filesystem::path& ttyDir)
    {
        const std::filesystem::path link = m_root / "sys/class/tty" / strName;
        std::filesystem::create_symlink(
            std::filesystem::relative(ttyDir, link.parent_path()), link);
    }

    std::filesystem::path m_root;
};

// The bench most tests want: an FTDI adapter, an Arduino on CDC, ttyS0 with a UART and
// ttyS1-ttyS31 without, two virtual consoles.
inline CFakeTree::SUsb FtdiAdapter()
{
    return { "ttyUSB0", "1-2", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI",
        "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" };
}
inline CFakeTree::SUsb ArduinoUno()
{
    return { "ttyACM0", "1-3", "2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno",
        "75830333238351F0D1A1", "usb-Arduino__www.arduino.cc__0043_75830333238351F0D1A1-if00" };
}
inline void AddBench(CFakeTree& tree)
{
    tree.AddUsb(FtdiAdapter());
    tree.AddUsb(ArduinoUno());
    tree.AddUart("ttyS0", 4);
    for (int i = 1; i < 32; ++i)
        tree.AddUart("ttyS" + std::to_string(i), 0);
    tree.AddVirtual("tty0");
    tree.AddVirtual("tty1");
}
