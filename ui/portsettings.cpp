#include "portsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

const char g_szParities[] = "NOEMS";

QComboBox* MakeChoice(const QStringList& items, int nCurrent)
{
    auto* pCombo = new QComboBox;
    pCombo->addItems(items);
    pCombo->setCurrentIndex(nCurrent);
    return pCombo;
}

} // namespace

QByteArray SPortSettings::EnterBytes() const
{
    switch (eEnter) {
    case ENTER_LF:
        return QByteArrayLiteral("\n");
    case ENTER_CRLF:
        return QByteArrayLiteral("\r\n");
    case ENTER_CR:
        break;
    }
    return QByteArrayLiteral("\r");
}

QString SPortSettings::Summary() const
{
    QString str = QString::number(nDataBits) + QLatin1Char(cParity) + QString::number(nStopBits);
    if (control.eFlow == SLineControl::FLOW_RTSCTS)
        str += QStringLiteral(" RTS/CTS");
    else if (control.eFlow == SLineControl::FLOW_XONXOFF)
        str += QStringLiteral(" XON/XOFF");
    return str;
}

CPortSettingsDlg::CPortSettingsDlg(const SPortSettings& settings, bool bPortOpen, QWidget* pParent)
    : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("Port Settings"));
    setObjectName(QStringLiteral("portSettings"));
    m_pDataBits = MakeChoice(
        { QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8") },
        static_cast<int>(settings.nDataBits) - 5);
    const int nParity = static_cast<int>(QByteArray(g_szParities).indexOf(settings.cParity));
    m_pParity = MakeChoice({ QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                               QStringLiteral("Mark"), QStringLiteral("Space") },
        nParity < 0 ? 0 : nParity);
    m_pStopBits
        = MakeChoice({ QStringLiteral("1"), QStringLiteral("2") }, settings.nStopBits == 2 ? 1 : 0);
    m_pFlow = MakeChoice({ QStringLiteral("None"), QStringLiteral("RTS/CTS (hardware)"),
                             QStringLiteral("XON/XOFF (software)") },
        static_cast<int>(settings.control.eFlow));
    // DTR left as the port has it reads as on: that is what opening a port does on Linux and
    // Windows alike.
    m_pDtr = new QCheckBox(QStringLiteral("DTR on at Open"));
    m_pDtr->setChecked(settings.control.nDtr != 0);
    m_pRts = new QCheckBox(QStringLiteral("RTS on at Open"));
    m_pRts->setChecked(settings.control.bRts);
    m_pEnter = MakeChoice({ QStringLiteral("CR"), QStringLiteral("LF"), QStringLiteral("CR LF") },
        static_cast<int>(settings.eEnter));

    auto* pForm = new QFormLayout;
    pForm->addRow(QStringLiteral("&Data bits:"), m_pDataBits);
    pForm->addRow(QStringLiteral("&Parity:"), m_pParity);
    pForm->addRow(QStringLiteral("&Stop bits:"), m_pStopBits);
    pForm->addRow(QStringLiteral("&Flow control:"), m_pFlow);
    pForm->addRow(QString(), m_pDtr);
    pForm->addRow(QString(), m_pRts);
    pForm->addRow(QStringLiteral("&Enter sends:"), m_pEnter);
    for (QComboBox* pCombo : { m_pDataBits, m_pParity, m_pStopBits, m_pFlow, m_pEnter }) {
        if (auto* pLabel = qobject_cast<QLabel*>(pForm->labelForField(pCombo)))
            pCombo->setAccessibleName(pLabel->text().remove(QLatin1Char('&')).chopped(1));
    }

    auto* pNote = new QLabel(bPortOpen
            ? QStringLiteral("The open port takes framing, flow control and Enter at once; DTR "
                             "and RTS at Open apply when it is next opened.")
            : QStringLiteral("These apply when the port is opened."));
    pNote->setWordWrap(true);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pForm);
    pLayout->addWidget(pNote);
    pLayout->addWidget(pButtons);
}

SPortSettings CPortSettingsDlg::Settings() const
{
    SPortSettings settings;
    settings.nDataBits = static_cast<unsigned>(5 + m_pDataBits->currentIndex());
    settings.cParity = g_szParities[m_pParity->currentIndex()];
    settings.nStopBits = static_cast<unsigned>(1 + m_pStopBits->currentIndex());
    settings.control.eFlow = static_cast<SLineControl::Flow>(m_pFlow->currentIndex());
    settings.control.nDtr = m_pDtr->isChecked() ? 1 : 0;
    settings.control.bRts = m_pRts->isChecked();
    settings.eEnter = static_cast<SPortSettings::Enter>(m_pEnter->currentIndex());
    return settings;
}
