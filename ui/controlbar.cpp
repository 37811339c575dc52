#include "controlbar.h"

#include "dialogunits.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace {

QComboBox* MakeList(
    QWidget* pParent, const char* szName, const QStringList& items, const QString& strLabel)
{
    auto* pCombo = new QComboBox(pParent);
    // On Linux a screen reader names a list box by the label that points at it (its own name is
    // its text); the bar has no room for a visible one.
    auto* pLabel = new QLabel(strLabel, pParent);
    pLabel->setBuddy(pCombo);
    pLabel->hide();
    pCombo->setAccessibleName(strLabel);
    pCombo->setObjectName(QLatin1String(szName));
    pCombo->setEditable(true);
    // A drop-down list never gains items from what is typed into it.
    pCombo->setInsertPolicy(QComboBox::NoInsert);
    pCombo->addItems(items);
    pCombo->model()->sort(0);
    pCombo->setCurrentIndex(-1);
    pCombo->lineEdit()->setAccessibleName(strLabel);
    return pCombo;
}

QPushButton* MakeButton(QWidget* pParent, const char* szName, const QString& strText,
    const QString& strPrompt, const QString& strTip)
{
    auto* pButton = new QPushButton(strText, pParent);
    pButton->setObjectName(QLatin1String(szName));
    pButton->setStatusTip(strPrompt);
    pButton->setToolTip(strTip);
    return pButton;
}

} // namespace

CControlBar::CControlBar(QWidget* pParent)
    : QWidget(pParent)
{
    setObjectName(QStringLiteral("IDD_CONTROLBAR"));
    QFont font = this->font();
    font.setPointSize(9);
    setFont(font);
    const CDialogUnits du(font);

    QStringList ports;
    for (int i = 1; i <= 20; ++i)
        ports << QStringLiteral("COM%1").arg(i);
    ports << QString();
    // The template's five, then what today's boards and USB bridges run at; any other rate can
    // be typed.
    const QStringList rates { QStringLiteral("9600"), QStringLiteral("19200"),
        QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200"),
        QStringLiteral("230400"), QStringLiteral("460800"), QStringLiteral("921600"),
        QStringLiteral("1000000"), QStringLiteral("1500000"), QStringLiteral("2000000"),
        QStringLiteral("3000000"), QString() };

    // Created in the template's order, which is also the tab order.
    m_pLoad = MakeButton(this, "IDC_LOAD", QStringLiteral("Load"), QStringLiteral("装载BIN文件"),
        QStringLiteral("装载"));
    m_pLoad->setDefault(true);
    m_pDown = MakeButton(this, "IDC_DOWN", QStringLiteral("DOWN"), QStringLiteral("开始下装"),
        QStringLiteral("下装"));
    m_pFilePath = new QLineEdit(this);
    m_pFilePath->setObjectName(QStringLiteral("IDC_FILEPATH"));
    m_pFilePath->setAccessibleName(QStringLiteral("Image file"));
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("IDC_PROGRESS"));
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setTextVisible(false);
    m_pProgress->setAccessibleName(QStringLiteral("Download progress"));
    m_pComPort = MakeList(this, "IDC_COMPORT", ports, QStringLiteral("Port"));
    m_pOpenClose = MakeButton(this, "IDC_OPENCLOSE", QStringLiteral("Open"),
        QStringLiteral("串口操作"), QStringLiteral("串口"));
    m_pBaudRate = MakeList(this, "IDC_BAUDRATE", rates, QStringLiteral("Baud rate"));
    m_pClear = MakeButton(this, "IDC_CLEAR", QStringLiteral("Clear"), QString(), QString());

    m_pLoad->setGeometry(du.Rect(261, 7, 28, 15));
    m_pDown->setGeometry(du.Rect(305, 7, 26, 15));
    m_pFilePath->setGeometry(du.Rect(163, 7, 87, 14));
    m_pProgress->setGeometry(du.Rect(335, 7, 130, 15));
    m_pOpenClose->setGeometry(du.Rect(111, 7, 39, 13));
    m_pClear->setGeometry(du.Rect(467, 7, 35, 15));
    // The template's combo heights include the dropped list; the closed box is as tall as
    // its font needs.
    for (auto [pCombo, nX, nWidth] : { std::tuple { m_pComPort, 7, 39 }, { m_pBaudRate, 55, 50 } })
        pCombo->setGeometry(du.X(nX), du.Y(7), du.X(nWidth), pCombo->sizeHint().height());

    m_szTemplate = QSize(du.X(516), du.Y(29));
    setFixedHeight(m_szTemplate.height());
}

QSize CControlBar::sizeHint() const
{
    return m_szTemplate;
}

std::string CControlBar::SelectedItemText(QComboBox* pCombo)
{
    int nIndex = pCombo->currentIndex();
    if (nIndex >= 0 && pCombo->isEditable() && pCombo->currentText() != pCombo->itemText(nIndex))
        nIndex = pCombo->findText(pCombo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (nIndex < 0)
        return std::string();
    return pCombo->itemText(nIndex).toStdString();
}

bool CControlBar::SelectString(QComboBox* pCombo, const QString& strPrefix)
{
    const int nIndex = pCombo->findText(strPrefix, Qt::MatchStartsWith);
    if (nIndex < 0)
        return false;
    pCombo->setCurrentIndex(nIndex);
    return true;
}
