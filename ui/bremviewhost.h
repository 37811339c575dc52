#pragma once

#include <QString>

#include <cstdint>

// What the log view needs from the main window: the port-open flag, the port, and a box.
class CBremViewHost {
public:
    virtual ~CBremViewHost() = default;
    // m_bPortOpen: 1 while the port is open.
    virtual int PortOpenFlag() const = 0;
    virtual uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) = 0;
    // Modal box owned by the view, caption "Brem", OK button.
    virtual void ViewMessageBox(const QString& strText) = 0;
};
