// The Port menu of the main window: line settings and the lines of the open port.
#include "atoilike.h"
#include "bremview.h"
#include "controlbar.h"
#include "linestates.h"
#include "mainframe.h"
#include "prompts.h"
#include "statusbar.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace {

// The fastest USB serial bridges (FT232H and kin) run at 12 Mbaud.
constexpr int g_nMaxTypedRate = 12000000;
constexpr int g_nLinePollMs = 200;
constexpr unsigned g_nBreakMs = 250;
constexpr int g_nMaxBreakMs = 10000;

} // namespace

void CMainFrame::SetUpPortLines()
{
    m_pLineStates = new CLineStates(m_pStatusBar);
    // First of the permanent panes, left of the port's note and the lock keys.
    m_pStatusBar->insertPermanentWidget(1, m_pLineStates);
    m_pLineStates->hide();
    m_lineTimer.setInterval(g_nLinePollMs);
    connect(&m_lineTimer, &QTimer::timeout, this, &CMainFrame::ShowLineStates);
    m_breakTimer.setSingleShot(true);
    // A coarse timer may end a break 5% early, too short for a board that times it.
    m_breakTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_breakTimer, &QTimer::timeout, this, [this] {
        if (m_Port.BreakOn() && !m_Port.EscapeCommFunction(CLRBREAK))
            m_Port.ProcessErrorMessage("ClearCommBreak()");
    });
}

int CMainFrame::ChosenRate() const
{
    QComboBox* pBaud = m_pDlgBar->m_pBaudRate;
    const std::string strItem = CControlBar::SelectedItemText(pBaud);
    const QString strTyped = pBaud->currentText().trimmed();
    bool bNumber = false;
    const int nTyped = strTyped.toInt(&bNumber);
    if (strItem.empty() && bNumber && nTyped > 0 && nTyped <= g_nMaxTypedRate
        && !strTyped.startsWith(QLatin1Char('+')))
        return nTyped;
    return std::max(0, AtoiLike(strItem));
}

bool CMainFrame::CheckLineApplied(const std::string& strName, unsigned nBaud)
{
    if (m_Port.LineSettingsApplied())
        return true;
    // Its box has named the failed step; a port left at other settings would pass noise off as
    // the device.
    m_Port.ClosePort();
    CPrompts::Instance().MessageBoxWithDetail(this, QStringLiteral("Brem"),
        QStringLiteral("Port Init Error"),
        QStringLiteral("%1 cannot run at %2 baud %3: its driver refused these settings or "
                       "cannot come within 2% of the rate. The port was closed again; choose "
                       "another rate or setting.")
            .arg(QString::fromStdString(strName))
            .arg(nBaud)
            .arg(m_portSettings.Summary()),
        false);
    return false;
}

void CMainFrame::ShowLineStates()
{
    if (!m_bPortOpen) {
        m_lineTimer.stop();
        m_pLineStates->hide();
        return;
    }
    uint32_t dwModem = 0;
    if (!m_Port.GetCommModemStatus(dwModem))
        dwModem = 0; // a pseudo-terminal has no lines
    m_pLineStates->Show(m_Port.DtrOn(), m_Port.RtsOn(), dwModem);
    m_pLineStates->show();
    if (!m_lineTimer.isActive())
        m_lineTimer.start();
}

void CMainFrame::CreatePortMenu(QMenuBar* pMenuBar)
{
    QMenu* pMenu = pMenuBar->addMenu(QStringLiteral("Port(&P)"));
    const auto add
        = [&](const QString& strText, const QString& strPrompt, const QKeySequence& key, auto fn) {
              QAction* pAction = pMenu->addAction(strText);
              pAction->setStatusTip(strPrompt);
              pAction->setShortcut(key);
              pAction->setShortcutContext(Qt::WindowShortcut);
              connect(pAction, &QAction::triggered, this, fn);
              return pAction;
          };
    add(QStringLiteral("Settings...(&S)"),
        QStringLiteral("Data bits, parity, stop bits, flow control, DTR and RTS at Open, and "
                       "what Enter sends"),
        QKeySequence(), [this] { OnPortSettings(); });
    pMenu->addSeparator();
    // Function keys: every Ctrl+letter already sends its control code to the device.
    add(QStringLiteral("Toggle DTR(&D)"), QStringLiteral("Turn DTR on or off on the open port"),
        QKeySequence(Qt::Key_F7), [this] { OnToggleDtr(); });
    add(QStringLiteral("Toggle RTS(&R)"), QStringLiteral("Turn RTS on or off on the open port"),
        QKeySequence(Qt::Key_F8), [this] { OnToggleRts(); });
    add(QStringLiteral("Send Break(&B)"), QStringLiteral("Hold the line in break for 250 ms"),
        QKeySequence(Qt::Key_F9), [this] { OnSendBreak(g_nBreakMs); });
    add(QStringLiteral("Send Break of Length...(&L)"),
        QStringLiteral("Hold the line in break for as long as you choose"),
        QKeySequence(Qt::SHIFT | Qt::Key_F9), [this] { OnSendBreakOfLength(); });
}

void CMainFrame::OnPortSettings()
{
    CPortSettingsDlg dlg(m_portSettings, m_bPortOpen != 0, this);
    if (dlg.exec() == QDialog::Accepted)
        ApplyPortSettings(dlg.Settings());
}

void CMainFrame::ApplyPortSettings(const SPortSettings& settings)
{
    if (m_bPortOpen) {
        m_Port.SetLineControl(settings.control);
        if (!m_Port.ChangeLineSettings(m_Port.LineSettings().BaudRate, settings.cParity,
                settings.nDataBits, settings.nStopBits)) {
            m_Port.SetLineControl(m_portSettings.control);
            m_Port.ProcessErrorMessage("SetCommState()");
            return;
        }
    }
    m_portSettings = settings;
    m_pView->SetEnterBytes(settings.EnterBytes());
    if (m_bPortOpen)
        ShowLineStates();
}

void CMainFrame::OnToggleDtr()
{
    ToggleLine(m_Port.DtrOn() ? CLRDTR : SETDTR);
}

void CMainFrame::OnToggleRts()
{
    ToggleLine(m_Port.RtsOn() ? CLRRTS : SETRTS);
}

void CMainFrame::ToggleLine(uint32_t dwFunc)
{
    if (!m_bPortOpen) {
        MessageBox("COM Not Open");
        return;
    }
    if (!m_Port.EscapeCommFunction(dwFunc))
        m_Port.ProcessErrorMessage("EscapeCommFunction()");
    ShowLineStates();
}

void CMainFrame::OnSendBreak(unsigned nMs)
{
    if (!m_bPortOpen) {
        MessageBox("COM Not Open");
        return;
    }
    // One break at a time: a second press while one is on does not cut it short.
    if (m_Port.BreakOn())
        return;
    if (!m_Port.EscapeCommFunction(SETBREAK)) {
        m_Port.ProcessErrorMessage("SetCommBreak()");
        return;
    }
    m_breakTimer.start(static_cast<int>(nMs));
}

void CMainFrame::OnSendBreakOfLength()
{
    bool bOk = false;
    const int nMs = QInputDialog::getInt(this, QStringLiteral("Send Break"),
        QStringLiteral("Break length in milliseconds:"), static_cast<int>(m_nBreakMs), 1,
        g_nMaxBreakMs, 50, &bOk);
    if (!bOk)
        return;
    m_nBreakMs = static_cast<unsigned>(nMs);
    OnSendBreak(m_nBreakMs);
}
