#include "linestates.h"

#include "serial/dcb.h"

#include <QHBoxLayout>
#include <QLabel>

CLineStates::CLineStates(QWidget* pParent)
    : QWidget(pParent)
{
    setObjectName(QStringLiteral("lineStates"));
    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(6);
    const char* const aszNames[COUNT] = { "DTR", "RTS", "CTS", "DSR", "DCD", "RI" };
    for (int i = 0; i < COUNT; ++i) {
        m_apLines[i] = new QLabel(QLatin1String(aszNames[i]), this);
        m_apLines[i]->setObjectName(QLatin1String(aszNames[i]));
        pLayout->addWidget(m_apLines[i]);
    }
    Show(false, false, 0);
}

void CLineStates::Show(bool bDtr, bool bRts, uint32_t dwModem)
{
    const bool abOn[COUNT] = { bDtr, bRts, (dwModem & MS_CTS_ON) != 0, (dwModem & MS_DSR_ON) != 0,
        (dwModem & MS_RLSD_ON) != 0, (dwModem & MS_RING_ON) != 0 };
    for (int i = 0; i < COUNT; ++i) {
        QLabel* pLabel = m_apLines[i];
        const QString strName = pLabel->objectName();
        // Greyed when off; the words say it for a screen reader and a tooltip.
        pLabel->setEnabled(abOn[i]);
        pLabel->setAccessibleName(
            strName + (abOn[i] ? QStringLiteral(" on") : QStringLiteral(" off")));
        pLabel->setToolTip(pLabel->accessibleName());
    }
}
