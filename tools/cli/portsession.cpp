#include "portsession.h"

#include "cliplatform.h"
#include "openfailure.h"

#include <cstring>
#include <mutex>

namespace {

constexpr uint32_t g_nCommEvents = EV_RXCHAR | EV_CTS;
constexpr unsigned g_nWriteBufferSize = 8192;

std::string SecondsText(double dSec)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%g", dSec);
    return sz;
}

} // namespace

CPortSession::CPortSession(const SSettings& settings, CSessionObserver& observer)
    : m_settings(settings)
    , m_observer(observer)
    , m_engine(*this, settings.pImage)
{ }

CPortSession::~CPortSession()
{
    if (m_bPortOpen)
        m_Port.ClosePort();
}

double CPortSession::Seconds() const
{
    return std::chrono::duration<double>(CEventLoop::Clock::now() - m_tpStart).count();
}

CEventLoop::Clock::time_point CPortSession::SilenceDeadline() const
{
    return CEventLoop::Clock::now()
        + std::chrono::duration_cast<CEventLoop::Clock::duration>(
            std::chrono::duration<double>(m_settings.dTimeoutSec));
}

int CPortSession::Run()
{
    m_tpStart = CEventLoop::Clock::now();
    const std::string strDevice = ResolvePortName(m_settings.strPort, m_settings.roots);
    std::string strPortName = m_settings.strPort;
    if (strDevice != strPortName)
        strPortName += " (" + strDevice + ")";

    m_Port.SetErrorReporter(this);
    m_Port.SetLineControl(m_settings.lineControl);
    if (!m_Port.InitPort(this, strDevice, m_settings.nPortNr, m_settings.nBaud, m_settings.cParity,
            m_settings.nDataBits, m_settings.nStopBits, g_nCommEvents, g_nWriteBufferSize)) {
        // It reads the user and group databases through calls that share one buffer.
        static std::mutex g_mxExplain;
        std::unique_lock<std::mutex> lock(g_mxExplain);
        const std::string strWhy = ExplainOpenFailure(
            m_settings.strPort, strDevice, m_Port.OpenError(), m_settings.roots)
                                       .OneLine();
        lock.unlock();
        Finish(CLI_PORT, "cannot open port " + strPortName + ": " + strWhy);
        return m_nStatus;
    }
    m_bPortOpen = m_bPortOpened = true;
    std::string strFailedStep;
    if (m_bPortError || !m_Port.LineSettingsApplied()) {
        Finish(CLI_PORT,
            "cannot configure port " + strPortName + " at " + std::to_string(m_settings.nBaud)
                + " baud " + std::to_string(m_settings.nDataBits) + m_settings.cParity
                + std::to_string(m_settings.nStopBits));
    } else if (!RunLinePulse(m_Port, m_settings.resetPulse, strFailedStep)) {
        Finish(CLI_PORT,
            "cannot play the reset pulse on port " + strPortName + " (" + strFailedStep
                + "): " + SystemErrorText(LastSystemError()));
    } else if (!m_Port.StartMonitoring()) {
        Finish(CLI_PORT, "cannot watch port " + strPortName + ": no thread");
    } else {
        m_engine.m_strFilePath = m_settings.strImage;
        m_engine.OnDown();
        if (!m_strBoxText.empty()) {
            Finish(m_strBoxText == "COM Not Open" ? CLI_PORT : CLI_IMAGE,
                m_strBoxText + ": " + m_settings.strImage);
        } else if (!m_bFinished) {
            m_loop.SetDeadline(SilenceDeadline(), [this]() { OnSilence(); });
            m_loop.Run();
        }
    }

    m_loop.KillTimer();
    m_Port.ClosePort();
    m_bPortOpen = false;
    // Deliveries the port abandoned while closing do nothing now; let them go.
    m_loop.Drain();
    return m_nStatus;
}

void CPortSession::Finish(int nStatus, const std::string& strLine)
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    m_nStatus = nStatus;
    m_strVerdict = strLine;
    m_loop.KillTimer();
    m_loop.Quit();
    m_observer.OnVerdict(nStatus);
}

void CPortSession::Interrupt(int nSignal)
{
    const std::string strLine = "interrupted by " + SignalName(nSignal);
    m_loop.Post([this, nSignal, strLine]() { Finish(128 + nSignal, strLine); });
}

void CPortSession::OnSilence()
{
    const std::string strWait = SecondsText(m_settings.dTimeoutSec) + " s";
    const std::string strOther
        = "the device sent " + std::to_string(m_engine.OtherBytes()) + " other bytes";
    switch (m_engine.m_nState) {
    case STATE_IDENT:
        Finish(CLI_SILENT,
            "the identification stopped after " + std::to_string(g_nCounter) + " of "
                + std::to_string(BREM_IDENT_LENGTH) + " bytes (nothing more within " + strWait
                + ")");
        break;
    case STATE_SENDING:
        Finish(CLI_SILENT,
            "no answer to frame " + std::to_string(m_nFramesAcked + 1) + " within " + strWait + "; "
                + strOther);
        break;
    default:
        Finish(CLI_SILENT,
            "no answer to the poll within " + strWait
                + (m_engine.OtherBytes() > 0 ? "; " + strOther : ""));
        break;
    }
}

void CPortSession::OnDownloadStep()
{
    // Only a step moves the deadline: a device that talks without answering must not hold it.
    m_loop.MoveDeadline(SilenceDeadline());
    m_observer.OnStep(m_engine.m_nState);
}

void CPortSession::OnIdentification(const unsigned char* pBytes, uint32_t nCount)
{
    m_observer.OnIdentification(pBytes, nCount);
}

void CPortSession::OnDownloadEnd(DownloadEnd eEnd)
{
    m_strEndLine = m_strLastLine;
    const std::string strWhat
        = m_bHandshake ? "frame " + std::to_string(m_nFramesAcked + 1) : "the poll";
    switch (eEnd) {
    case DownloadEnd::Ok: {
        char sz[160];
        snprintf(sz, sizeof sz, "download complete: %u frames, %llu bytes in %.2f s",
            m_nFramesAcked, static_cast<unsigned long long>(m_engine.m_dwFileLength), Seconds());
        Finish(CLI_OK, sz);
        break;
    }
    case DownloadEnd::Refused:
        Finish(CLI_REFUSED, strWhat + " refused by the device (CheckSum Error)");
        break;
    case DownloadEnd::ImageChanged:
        Finish(CLI_IMAGE, "the image changed during the download: " + m_settings.strImage);
        break;
    case DownloadEnd::PortRefused:
        Finish(CLI_PORT, "the port did not take " + strWhat);
        break;
    case DownloadEnd::PortFailed:
    case DownloadEnd::PortClosed:
    case DownloadEnd::Abandoned:
        Finish(CLI_PORT, "the port could not write " + strWhat);
        break;
    }
}

uint64_t CPortSession::WriteToPort(const unsigned char* pBytes, uint32_t nCount)
{
    // Once the run has its verdict nothing more goes to the device.
    return m_bPortOpen && !m_bFinished ? m_Port.WriteToPort(pBytes, nCount) : 0;
}

void CPortSession::AppendLine(const std::string& strText)
{
    m_strLastLine = strText;
    if (strText == "Handshake OK")
        m_bHandshake = true;
    m_observer.OnLogLine(strText);
}

void CPortSession::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    m_observer.OnLogRaw(pBytes, nCount);
}

void CPortSession::SetProgressRange(uint32_t /*nLower*/, uint32_t nUpper)
{
    m_nFrames = nUpper;
    m_observer.OnFrameCount(nUpper);
}

void CPortSession::SetProgressPos(uint32_t nPos)
{
    m_nFramesAcked = nPos;
    m_observer.OnFramesAcked(nPos);
}

uintptr_t CPortSession::SetTimer(uintptr_t nIDEvent, unsigned nElapseMs)
{
    m_loop.SetTimer(nElapseMs, [this, nIDEvent]() {
        if (!m_bFinished)
            m_engine.OnTimer(nIDEvent);
    });
    return nIDEvent;
}

void CPortSession::KillTimer(uintptr_t /*nIDEvent*/)
{
    m_loop.KillTimer();
}

void CPortSession::MessageBox(const std::string& strText)
{
    m_strBoxText = strText;
}

bool CPortSession::RunOpenFileDialog(const std::string& /*strFilter*/, std::string& /*strPath*/)
{
    return false;
}

void CPortSession::SetFilePathText(const std::string& /*strPath*/) { }

void CPortSession::PostToOwner(std::function<void()> fn)
{
    m_loop.Post(std::move(fn));
}

void CPortSession::OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam)
{
    if (m_bFinished)
        return;
    if (nMessage == WM_COMM_RXCHAR)
        m_engine.OnComm(wParam, lParam);
    else if (nMessage == WM_COMM_TXEMPTY)
        m_engine.OnTxEmpty(wParam);
    else if (nMessage == WM_COMM_TXFAILED)
        m_engine.OnTxFailed(wParam);
}

void CPortSession::ShowError(const std::string& strCaption, const std::string& strText)
{
    std::string strFlat = strText;
    while (!strFlat.empty() && strFlat.back() == '\n')
        strFlat.pop_back();
    for (char& c : strFlat)
        if (c == '\n')
            c = ' ';
    m_observer.OnPortError(strCaption, strFlat);
    m_bPortError = true;
    // A port that fails mid-run has lost bytes of the download: stop rather than wait it out.
    if (m_bPortOpen)
        Finish(CLI_PORT, "the port failed: " + strFlat);
}
