#pragma once

#include "serial/portnames.h"

#include <QObject>

#include <memory>

// Tells that serial devices may have come or gone, as the system lets it be known: the device
// folders change (POSIX), or the device map changes, a device arrives or leaves, and a look
// every second besides (Windows). Whoever listens reads the devices again and compares.
class CPortWatch : public QObject {
    Q_OBJECT
public:
    explicit CPortWatch(QObject* pParent = nullptr);
    ~CPortWatch() override;

    // Watches for devices under these roots; called again after each read, so that folders
    // made since then join.
    void Watch(const CPortRoots& roots);
    // Forgets what it watched, for roots of another place.
    void Clear();

Q_SIGNALS:
    void Changed();

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_pImpl;
};
