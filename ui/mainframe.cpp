#include "mainframe.h"

#include "atoilike.h"
#include "bremview.h"
#include "capturecontrol.h"
#include "controlbar.h"
#include "filefilter.h"
#include "findbar.h"
#include "prompts.h"
#include "quitsignals.h"
#include "serial/openfailure.h"
#include "statusbar.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>
#include <filesystem>

int g_bPortOpened = 0;

namespace {

constexpr uint32_t PORT_EVENT_MASK = EV_RXCHAR | EV_CTS;
constexpr unsigned PORT_BUFFER_SIZE = 8192;
// Often enough to look smooth; each paint of the bar holds back any frame due meanwhile.
constexpr int g_nProgressMs = 50;

int ToProgress(uint32_t nValue)
{
    return static_cast<int>(std::min<uint32_t>(nValue, INT_MAX));
}

} // namespace

CMainFrame::CMainFrame(QWidget* pParent)
    : QMainWindow(pParent)
    , m_engine(*this)
{
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(m_nTimerEvent); });
    m_progressTimer.setSingleShot(true);
    m_progressTimer.setInterval(g_nProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        // Painted with the rest of the window rather than at once inside setValue.
        QProgressBar* pBar = m_pDlgBar->m_pProgress;
        pBar->setUpdatesEnabled(false);
        pBar->setValue(m_nProgressPos);
        pBar->setUpdatesEnabled(true);
    });
    OnCreate();
    // Told to go, the window gives the port back as the operator's Close would.
    new CQuitSignals([this] { ClosePort(); },
        [this](int nSignal) {
            close();
            QCoreApplication::exit(128 + nSignal);
        },
        this);
}

CMainFrame::~CMainFrame()
{
    ClosePort();
}

int CMainFrame::OnCreate()
{
    // Status bar lowest, the control bar right above it, the log view in the rest.
    m_pView = new CBremView;
    m_pView->SetHost(this);
    m_pDlgBar = new CControlBar;
    auto* pCentral = new QWidget(this);
    auto* pLayout = new QVBoxLayout(pCentral);
    pLayout->setContentsMargins(0, 0, 0, 0);
    pLayout->setSpacing(0);
    pLayout->addWidget(m_pView, 1);
    m_pFindBar = new CFindBar(m_pView, pCentral);
    pLayout->addWidget(m_pFindBar);
    pLayout->addWidget(m_pDlgBar);
    setCentralWidget(pCentral);
    m_pStatusBar = new CStatusBar(this);
    setStatusBar(m_pStatusBar);
    m_pView->installEventFilter(m_pStatusBar);
    m_pCapture = new CCaptureControl(this, m_pStatusBar);

    connect(m_pDlgBar->m_pLoad, &QPushButton::clicked, this, &CMainFrame::OnLoad);
    connect(m_pDlgBar->m_pDown, &QPushButton::clicked, this, &CMainFrame::OnDown);
    connect(m_pDlgBar->m_pOpenClose, &QPushButton::clicked, this, &CMainFrame::OnOpenClose);
    connect(m_pDlgBar->m_pClear, &QPushButton::clicked, this, &CMainFrame::OnClear);

    m_pPortList = new CPortList(m_pDlgBar->m_pComPort, this);
    connect(m_pPortList, &CPortList::Changed, this, &CMainFrame::CheckReplug);
    CControlBar::SelectString(m_pDlgBar->m_pComPort, QStringLiteral("COM1"));
    CControlBar::SelectString(m_pDlgBar->m_pBaudRate, QStringLiteral("115200"));
    m_Port.SetErrorReporter(this);
    SetUpPortLines();
    m_pView->setFocus();
    // Never narrower than the whole control bar; room for a useful stretch of log.
    setMinimumWidth(minimumSizeHint().width());
    resize(std::max(minimumSizeHint().width(), 960), 600);
    return 0;
}

void CMainFrame::OnOpenClose()
{
    if (g_bPortOpened) {
        ClosePort();
        return;
    }
    // A device item, or a device path typed into the list, rather than a COM item.
    SPortChoice device;
    const bool bDevice = m_pPortList->Choice(device);
    int nPort = static_cast<int>(device.nPortNr);
    if (!bDevice) {
        const std::string strPort = CControlBar::SelectedItemText(m_pDlgBar->m_pComPort);
        const std::size_t nCom = strPort.find("COM");
        if (nCom == std::string::npos) {
            MessageBox("Selecet COM First");
            return;
        }
        // A negative number would wrap to a huge unsigned one; no port has it.
        nPort = std::max(0, AtoiLike(strPort, nCom + 3));
    }
    const int nBaud = ChosenRate();
    const SPortSettings& line = m_portSettings;
    m_Port.SetLineControl(line.control);
    const bool bOpened = bDevice
        ? m_Port.InitPort(this, device.strDevice, device.nPortNr, static_cast<unsigned>(nBaud),
            line.cParity, line.nDataBits, line.nStopBits, PORT_EVENT_MASK, PORT_BUFFER_SIZE)
        : m_Port.InitPort(this, static_cast<unsigned>(nPort), static_cast<unsigned>(nBaud),
            line.cParity, line.nDataBits, line.nStopBits, PORT_EVENT_MASK, PORT_BUFFER_SIZE);
    if (!bOpened) {
        // The box's text stays as it always was; why, and what to do, go under it.
        const std::string strName = bDevice ? device.strDevice : "COM" + std::to_string(nPort);
        const SOpenFailure failure
            = ExplainOpenFailure(strName, ResolvePortName(strName, m_pPortList->Roots()),
                m_Port.OpenError(), m_pPortList->Roots());
        CPrompts::Instance().MessageBoxWithDetail(this, QStringLiteral("Brem"),
            QStringLiteral("Port Init Error"), QString::fromStdString(failure.Lines()), false);
        return;
    }
    if (!CheckLineApplied(bDevice ? device.strDevice : "COM" + std::to_string(nPort),
            static_cast<unsigned>(nBaud)))
        return;
    if (!m_Port.StartMonitoring()) {
        // Open without its monitor thread, nothing would be received or sent.
        m_Port.ClosePort();
        MessageBox("Port Init Error");
        return;
    }
    m_bPortOpen = 1;
    m_pDlgBar->m_pOpenClose->setText(QStringLiteral("Close"));
    g_bPortOpened = 1;
    if (!bDevice)
        device = { "COM" + std::to_string(nPort), std::string(), static_cast<unsigned>(nPort) };
    PortOpened(device, static_cast<unsigned>(nBaud));
    ShowLineStates();
}

void CMainFrame::ClosePort()
{
    if (!g_bPortOpened && !m_bPortOpen)
        return;
    m_pDlgBar->m_pOpenClose->setText(QStringLiteral("Open"));
    m_bPortOpen = 0;
    KillTimer(m_engine.m_nTimerID);
    // Returns once the monitor thread has ended; a delivery it still waits on is abandoned.
    m_Port.ClosePort();
    g_bPortOpened = 0;
    m_opened = SOpenedPort();
    m_pPortList->KeepListed(std::string());
    SetPortNote(std::string());
    m_engine.OnPortClosed();
    ShowLineStates();
}

void CMainFrame::OnClear()
{
    m_pView->ClearLog();
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    // Ending the program must not leave the monitor thread running or the device locked.
    ClosePort();
    QMainWindow::closeEvent(pEvent);
}

uint64_t CMainFrame::WriteToPort(const unsigned char* pBytes, uint32_t nCount)
{
    const uint64_t nWriteNr = m_Port.WriteToPort(pBytes, nCount);
    m_pCapture->Queued(nWriteNr, pBytes, nCount);
    return nWriteNr;
}

void CMainFrame::AppendLine(const std::string& strText)
{
    m_pView->AppendLine(strText);
}

void CMainFrame::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    m_pView->AppendRaw(pBytes, nCount);
}

void CMainFrame::SetProgressRange(uint32_t nLower, uint32_t nUpper)
{
    // Qt draws an equal minimum and maximum as a busy bar that never stops; an empty range is
    // an empty bar instead.
    const int nMin = std::min(ToProgress(nLower), INT_MAX - 1);
    m_pDlgBar->m_pProgress->setRange(nMin, std::max(ToProgress(nUpper), nMin + 1));
}

void CMainFrame::SetProgressPos(uint32_t nPos)
{
    // Painting the bar for every frame would hold back the next one; it takes the latest
    // position a few times a second instead.
    m_nProgressPos = ToProgress(nPos);
    if (!m_progressTimer.isActive())
        m_progressTimer.start();
}

uintptr_t CMainFrame::SetTimer(uintptr_t nIDEvent, unsigned nElapseMs)
{
    m_nTimerEvent = nIDEvent;
    m_timer.start(static_cast<int>(std::min<unsigned>(nElapseMs, INT_MAX)));
    return nIDEvent;
}

void CMainFrame::KillTimer(uintptr_t nIDEvent)
{
    if (nIDEvent != 0 && nIDEvent == m_nTimerEvent)
        m_timer.stop();
}

void CMainFrame::MessageBox(const std::string& strText)
{
    CPrompts::Instance().MessageBox(
        this, QStringLiteral("Brem"), QString::fromStdString(strText), false);
}

bool CMainFrame::RunOpenFileDialog(const std::string& strFilter, std::string& strPath)
{
    const QString strChosen = CPrompts::Instance().OpenFileName(this, QtFileFilter(strFilter));
    if (strChosen.isEmpty())
        return false;
    strPath = strChosen.toStdString();
    return true;
}

void CMainFrame::SetFilePathText(const std::string& strPath)
{
    m_pDlgBar->m_pFilePath->setText(QString::fromStdString(strPath));
}

void CMainFrame::PostToOwner(std::function<void()> fn)
{
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void CMainFrame::OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam)
{
    // The other notifications have no handler, as ever.
    if (nMessage == WM_COMM_RXCHAR) {
        m_pCapture->Received(static_cast<unsigned char>(wParam));
        OnComm(wParam, lParam);
    } else if (nMessage == WM_COMM_TXEMPTY) {
        m_pCapture->WentOut(wParam);
        m_engine.OnTxEmpty(wParam);
    } else if (nMessage == WM_COMM_TXFAILED) {
        m_pCapture->WriteFailed(wParam);
        m_engine.OnTxFailed(wParam);
    }
}

void CMainFrame::ShowError(const std::string& strCaption, const std::string& strText)
{
    ++m_nErrorBoxes;
    CPrompts::Instance().MessageBox(
        this, QString::fromStdString(strCaption), QString::fromStdString(strText), true);
    --m_nErrorBoxes;
    // A device that failed (its box just closed), or came back while the box was up.
    QMetaObject::invokeMethod(this, &CMainFrame::CheckReplug, Qt::QueuedConnection);
}

void CMainFrame::ViewMessageBox(const QString& strText)
{
    CPrompts::Instance().MessageBox(m_pView, QStringLiteral("Brem"), strText, false);
}

void CMainFrame::SetPortNote(const std::string& strNote)
{
    m_pStatusBar->m_pPortNote->setText(QString::fromStdString(strNote));
}

void CMainFrame::PortOpened(const SPortChoice& choice, unsigned nBaud)
{
    const std::vector<SSerialDevice>& devices = m_pPortList->Devices();
    const std::string strDevice = ResolvePortName(choice.strDevice, m_pPortList->Roots());
    const SSerialDevice* pDevice = choice.strKey.empty() ? FindSerialDevice(devices, strDevice)
                                                         : m_pPortList->FindByKey(choice.strKey);
    if (pDevice)
        m_opened = SOpenedPort { pDevice->Key(), pDevice->strName, choice.nPortNr, nBaud };
    m_pPortList->KeepListed(m_opened.strKey);
    // A COM item does not say what it reaches; the note does.
    if (ComPortNumber(choice.strDevice) > 0) {
        std::error_code ec;
        std::string strWhat = std::filesystem::canonical(strDevice, ec).string();
        // Windows names the device by its COM number itself: what it is says more.
        if (pDevice)
            strWhat
                = pDevice->strName == choice.strDevice ? pDevice->Label() : pDevice->DisplayName();
        else if (ec)
            strWhat = strDevice;
        SetPortNote(choice.strDevice + " is " + strWhat);
    }
}

void CMainFrame::CheckReplug()
{
    if (!g_bPortOpened || m_opened.strKey.empty())
        return;
    const SSerialDevice* pDevice = m_pPortList->FindByKey(m_opened.strKey);
    m_opened.bSeenGone = m_opened.bSeenGone || !pDevice;
    if (!m_opened.bUnplugged) {
        if (pDevice && !m_Port.DeviceGone())
            return;
        m_opened.bUnplugged = true;
        // The download failed with the device; bytes of a new one must not drive it on.
        const bool bDownload = m_engine.Downloading();
        m_engine.OnPortClosed();
        SetPortNote(m_opened.strName + " was unplugged"
            + std::string(bDownload ? " and the download stopped" : "")
            + "; Brem reopens it when it is plugged in again");
    }
    // Not under an error box: the monitor thread waits for it. A device that fails without
    // leaving the list gets one reopen, not box after box.
    if (!pDevice || m_nErrorBoxes > 0 || (!m_opened.bSeenGone && m_opened.bReopenedInPlace))
        return;
    // The old monitor thread ends and the dead descriptor closes; then Open's own two steps.
    m_Port.ClosePort();
    // The new port numbers its writes from 1 again.
    m_engine.OnPortClosed();
    // Refused while udev still sets the node's group and mode: the next change tries again.
    if (!m_Port.InitPort(this, pDevice->strPath, m_opened.nPortNr, m_opened.nBaud,
            m_portSettings.cParity, m_portSettings.nDataBits, m_portSettings.nStopBits,
            PORT_EVENT_MASK, PORT_BUFFER_SIZE))
        return;
    if (!m_Port.StartMonitoring()) {
        m_Port.ClosePort();
        return;
    }
    m_opened.bReopenedInPlace = !m_opened.bSeenGone;
    m_opened.bSeenGone = false;
    m_opened.bUnplugged = false;
    SetPortNote(pDevice->DisplayName() + " is back: reopened at " + std::to_string(m_opened.nBaud)
        + " baud");
}
