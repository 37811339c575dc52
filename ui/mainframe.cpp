#include "mainframe.h"

#include "atoilike.h"
#include "bremview.h"
#include "controlbar.h"
#include "filefilter.h"
#include "prompts.h"
#include "statusbar.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

int g_bPortOpened = 0;

namespace {

constexpr uint32_t PORT_EVENT_MASK = EV_RXCHAR | EV_CTS;
constexpr unsigned PORT_BUFFER_SIZE = 8192;

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
    OnCreate();
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
    pLayout->addWidget(m_pDlgBar);
    setCentralWidget(pCentral);
    m_pStatusBar = new CStatusBar(this);
    setStatusBar(m_pStatusBar);
    m_pView->installEventFilter(m_pStatusBar);

    connect(m_pDlgBar->m_pLoad, &QPushButton::clicked, this, &CMainFrame::OnLoad);
    connect(m_pDlgBar->m_pDown, &QPushButton::clicked, this, &CMainFrame::OnDown);
    connect(m_pDlgBar->m_pOpenClose, &QPushButton::clicked, this, &CMainFrame::OnOpenClose);
    connect(m_pDlgBar->m_pClear, &QPushButton::clicked, this, &CMainFrame::OnClear);

    CControlBar::SelectString(m_pDlgBar->m_pComPort, QStringLiteral("COM1"));
    CControlBar::SelectString(m_pDlgBar->m_pBaudRate, QStringLiteral("115200"));
    m_Port.SetErrorReporter(this);
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
    const std::string strPort = CControlBar::SelectedItemText(m_pDlgBar->m_pComPort);
    const std::size_t nCom = strPort.find("COM");
    if (nCom == std::string::npos) {
        MessageBox("Selecet COM First");
        return;
    }
    // A negative number would wrap to a huge unsigned one; no port has it.
    const int nPort = std::max(0, AtoiLike(strPort, nCom + 3));
    const int nBaud = std::max(0, AtoiLike(CControlBar::SelectedItemText(m_pDlgBar->m_pBaudRate)));
    if (!m_Port.InitPort(this, static_cast<unsigned>(nPort), static_cast<unsigned>(nBaud), 'N', 8,
            1, PORT_EVENT_MASK, PORT_BUFFER_SIZE)) {
        MessageBox("Port Init Error");
        return;
    }
    if (!m_Port.StartMonitoring()) {
        // Open without its monitor thread, nothing would be received or sent.
        m_Port.ClosePort();
        MessageBox("Port Init Error");
        return;
    }
    m_bPortOpen = 1;
    m_pDlgBar->m_pOpenClose->setText(QStringLiteral("Close"));
    g_bPortOpened = 1;
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
    return m_Port.WriteToPort(pBytes, nCount);
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
    // QProgressBar repaints inside setValue; done here it would hold back the next frame.
    m_nProgressPos = ToProgress(nPos);
    if (m_bProgressQueued)
        return;
    m_bProgressQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bProgressQueued = false;
            m_pDlgBar->m_pProgress->setValue(m_nProgressPos);
        },
        Qt::QueuedConnection);
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
    if (nMessage == WM_COMM_RXCHAR)
        OnComm(wParam, lParam);
}

void CMainFrame::ShowError(const std::string& strCaption, const std::string& strText)
{
    CPrompts::Instance().MessageBox(
        this, QString::fromStdString(strCaption), QString::fromStdString(strText), true);
}

void CMainFrame::ViewMessageBox(const QString& strText)
{
    CPrompts::Instance().MessageBox(m_pView, QStringLiteral("Brem"), strText, false);
}
