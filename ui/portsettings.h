#pragma once

#include "serial/serialport.h"

#include <QByteArray>
#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;

// The line as the operator chose it beside the port and the rate; chosen anew in each run.
struct SPortSettings {
    enum Enter { ENTER_CR, ENTER_LF, ENTER_CRLF };

    unsigned nDataBits = 8;
    char cParity = 'N';
    unsigned nStopBits = 1;
    SLineControl control;
    Enter eEnter = ENTER_CR;

    QByteArray EnterBytes() const;
    // "8N1", and the flow control when there is one: "7E1 RTS/CTS".
    QString Summary() const;
};

// Port ▸ Settings: framing, flow control, DTR and RTS at open, and what Enter sends.
class CPortSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CPortSettingsDlg(const SPortSettings& settings, bool bPortOpen, QWidget* pParent = nullptr);
    SPortSettings Settings() const;

    QComboBox* m_pDataBits;
    QComboBox* m_pParity;
    QComboBox* m_pStopBits;
    QComboBox* m_pFlow;
    QCheckBox* m_pDtr;
    QCheckBox* m_pRts;
    QComboBox* m_pEnter;
};
