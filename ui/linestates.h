#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;

// The status bar's view of the open port's lines: DTR and RTS as we drive them, CTS, DSR, DCD
// and RI as the device drives them. Hidden while no port is open.
class CLineStates : public QWidget {
    Q_OBJECT
public:
    explicit CLineStates(QWidget* pParent = nullptr);
    // dwModem: the MS_*_ON bits of the input lines.
    void Show(bool bDtr, bool bRts, uint32_t dwModem);

    enum { DTR, RTS, CTS, DSR, DCD, RI, COUNT };
    QLabel* m_apLines[COUNT];
};
