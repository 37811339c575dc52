#pragma once

#include "portwatch.h"
#include "serial/portdiscovery.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <string>
#include <vector>

class QComboBox;

// What the operator chose in the port list when it is not one of the COM items.
struct SPortChoice {
    std::string strDevice; // the path to open
    std::string strKey; // the device's lasting identity, "" when discovery does not know it
    unsigned nPortNr = 0; // the n of a COM link that reaches it, for the boxes
};

// The devices part of the port list: after the fixed COM items, every serial device present,
// by name, kept current while the window is open (what the system says of devices coming and
// going is watched, and a change is read once things have settled). The device selected, or the one
// kept open, stays listed while it is unplugged.
class CPortList : public QObject {
    Q_OBJECT
public:
    CPortList(QComboBox* pCombo, QObject* pParent = nullptr);

    // Reads the devices under these roots at once and watches them from now on.
    void SetRoots(const CPortRoots& roots);
    const CPortRoots& Roots() const { return m_roots; }
    const std::vector<SSerialDevice>& Devices() const { return m_devices; }
    const SSerialDevice* FindByKey(const std::string& strKey) const;

    // A device item is selected, or a device path is typed in the edit field: what to open.
    bool Choice(SPortChoice& choice) const;
    // Keeps this device listed (as unplugged when it is gone); "" for none.
    void KeepListed(const std::string& strKey);
    // Reads the devices again now.
    void Rescan();

Q_SIGNALS:
    // After every read of the devices, the list already updated.
    void Changed();

private:
    void Fill();

    QComboBox* m_pCombo;
    int m_nFixedItems;
    CPortRoots m_roots;
    std::vector<SSerialDevice> m_devices;
    // Devices seen while listed, so that one unplugged can still be shown by name.
    std::map<std::string, SSerialDevice> m_seen;
    std::string m_strKept;
    bool m_bGoneListed = false;
    bool m_bFilling = false;
    bool m_bRead = false;
    CPortWatch m_watch;
    QTimer m_timerSettle;
};
