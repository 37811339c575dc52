#include "clihost.h"

#include "harmlesstext.h"
#include "openfailure.h"
#include "portnames.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr uint32_t g_nCommEvents = EV_RXCHAR | EV_CTS;
constexpr unsigned g_nWriteBufferSize = 8192;
constexpr unsigned g_nBarWidth = 30;

std::string SecondsText(double dSec)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%g", dSec);
    return sz;
}

} // namespace

CCliHost::CCliHost(const CCliOptions& options, FILE* pOut, FILE* pErr, bool bErrIsTerminal)
    : m_options(options)
    , m_pOut(pOut)
    , m_pErr(pErr)
    , m_bErrIsTerminal(bErrIsTerminal)
    , m_engine(*this)
{ }

CCliHost::~CCliHost()
{
    if (m_bPortOpen)
        m_Port.ClosePort();
}

double CCliHost::NowSec() const
{
    return std::chrono::duration<double>(CEventLoop::Clock::now() - m_tpStart).count();
}

CEventLoop::Clock::time_point CCliHost::SilenceDeadline() const
{
    return CEventLoop::Clock::now()
        + std::chrono::duration_cast<CEventLoop::Clock::duration>(
            std::chrono::duration<double>(m_options.m_dTimeoutSec));
}

bool CCliHost::CheckImage()
{
    const std::string& strPath = m_options.m_strImage;
    struct stat st { };
    if (stat(strPath.c_str(), &st) != 0) {
        Finish(CLI_IMAGE, "cannot open image " + strPath + ": " + strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Finish(CLI_IMAGE, "cannot open image " + strPath + ": not a regular file");
        return false;
    }
    CImageFile file;
    if (!file.Open(strPath)) {
        Finish(CLI_IMAGE, "cannot open image " + strPath + ": unreadable or locked by a writer");
        return false;
    }
    m_nImageBytes = file.GetLength();
    if (m_nImageBytes == 0) {
        Finish(CLI_IMAGE, "image " + strPath + " is empty");
        return false;
    }
    return true;
}

int CCliHost::Run()
{
    m_tpStart = CEventLoop::Clock::now();
    if (!CheckImage())
        return m_nStatus;

    // Before the port starts its thread, so that only the loop sees the signals.
    m_loop.CatchSignals([this](int nSignal) { OnSignal(nSignal); });

    const std::string strDevice = ResolvePortName(m_options.m_strPort);
    std::string strPortName = m_options.m_strPort;
    if (strDevice != strPortName)
        strPortName += " (" + strDevice + ")";

    m_Port.SetErrorReporter(this);
    if (!m_Port.InitPort(this, m_options.m_strPort, m_options.m_nPortNr, m_options.m_nBaud, 'N', 8,
            1, g_nCommEvents, g_nWriteBufferSize)) {
        Finish(CLI_PORT,
            "cannot open port " + strPortName + ": "
                + ExplainOpenFailure(
                    m_options.m_strPort, strDevice, m_Port.OpenError(), CPortRoots())
                      .OneLine());
        return m_nStatus;
    }
    m_bPortOpen = true;
    if (m_bPortError) {
        Finish(CLI_PORT, "cannot configure port " + strPortName);
    } else if (!m_Port.StartMonitoring()) {
        Finish(CLI_PORT, "cannot watch port " + strPortName + ": no thread");
    } else {
        m_engine.m_strFilePath = m_options.m_strImage;
        m_engine.OnDown();
        if (!m_strBoxText.empty()) {
            Finish(m_strBoxText == "COM Not Open" ? CLI_PORT : CLI_IMAGE,
                m_strBoxText + ": " + m_options.m_strImage);
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

    WriteLog(m_bLineOpen ? "\n" : "");
    if (m_bLogFailed && m_nStatus == CLI_OK) {
        m_nStatus = CLI_LOG;
        m_strLastLine
            = "the log could not be written to stdout (" + m_strLogError + "); " + m_strLastLine;
    }
    EndProgressLine();
    return m_nStatus;
}

void CCliHost::Finish(int nStatus, const std::string& strLastLine)
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    m_nStatus = nStatus;
    m_strLastLine = strLastLine;
    m_loop.KillTimer();
    m_loop.Quit();
    // With the port open, the verdict waits until Run() has closed it.
    if (!m_bPortOpen)
        EndProgressLine();
}

void CCliHost::EndProgressLine()
{
    if (m_bBarShown) {
        fputc('\n', m_pErr);
        m_bBarShown = false;
    }
    if (!m_strLastLine.empty()) {
        fprintf(m_pErr, "brem-cli: %s\n", m_strLastLine.c_str());
        m_strLastLine.clear();
    }
    fflush(m_pErr);
}

void CCliHost::OnSilence()
{
    const std::string strWait = SecondsText(m_options.m_dTimeoutSec) + " s";
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

void CCliHost::OnDownloadStep()
{
    // Only a step moves the deadline: a device that talks without answering must not hold it.
    m_loop.MoveDeadline(SilenceDeadline());
}

void CCliHost::OnDownloadEnd(DownloadEnd eEnd)
{
    const std::string strWhat
        = m_bHandshake ? "frame " + std::to_string(m_nFramesAcked + 1) : "the poll";
    switch (eEnd) {
    case DownloadEnd::Ok: {
        DrawProgress(true);
        char sz[160];
        snprintf(sz, sizeof sz, "download complete: %u frames, %llu bytes in %.2f s",
            m_nFramesAcked, static_cast<unsigned long long>(m_nImageBytes), NowSec());
        Finish(CLI_OK, sz);
        break;
    }
    case DownloadEnd::Refused:
        Finish(CLI_REFUSED, strWhat + " refused by the device (CheckSum Error)");
        break;
    case DownloadEnd::ImageChanged:
        Finish(CLI_IMAGE, "the image changed during the download: " + m_options.m_strImage);
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

void CCliHost::OnSignal(int nSignal)
{
    Finish(128 + nSignal, std::string("interrupted by ") + strsignal(nSignal));
}

uint64_t CCliHost::WriteToPort(const unsigned char* pBytes, uint32_t nCount)
{
    // Once the run has its verdict nothing more goes to the device.
    return m_bPortOpen && !m_bFinished ? m_Port.WriteToPort(pBytes, nCount) : 0;
}

void CCliHost::WriteLog(const std::string& str)
{
    if (m_bLogFailed)
        return;
    errno = 0;
    fwrite(str.data(), 1, str.size(), m_pOut);
    fflush(m_pOut);
    if (!ferror(m_pOut))
        return;
    m_bLogFailed = true;
    const int nError = errno ? errno : EIO;
    // Nobody reads the log any more, as when brem-cli | head -1 has its line.
    if (nError == EPIPE) {
        Finish(128 + SIGPIPE, "stdout was closed; the download was stopped");
        return;
    }
    m_strLogError = strerror(nError);
    EndProgressLine();
    fprintf(m_pErr, "brem-cli: cannot write the log to stdout: %s\n", m_strLogError.c_str());
    fflush(m_pErr);
}

void CCliHost::AppendLine(const std::string& strText)
{
    // The line ends at its first zero byte, as in the window's log. Device text left open
    // before it (a banner while polling) keeps its own line.
    std::string strLine = m_bLineOpen ? "\n" : "";
    strLine += HarmlessText(strText.c_str(), strnlen(strText.c_str(), strText.size()));
    strLine += '\n';
    m_bLineOpen = false;
    WriteLog(strLine);
    if (strText == "Handshake OK") {
        m_bHandshake = true;
        // Rate and time left count from here: the poll wait is not transfer time.
        m_meter.Start(m_nFrames, m_nImageBytes, NowSec());
    }
}

void CCliHost::AppendRaw(const unsigned char* pBytes, uint32_t nCount)
{
    // The window's terminal rules: CR breaks the line, LF and NUL show nothing.
    std::string strText;
    for (uint32_t i = 0; i < nCount; ++i) {
        unsigned char c = pBytes[i];
        if (c == '\r') {
            strText += '\n';
            m_bLineOpen = false;
        } else if (c != '\n' && c != 0) {
            strText += HarmlessText(reinterpret_cast<const char*>(&c), 1);
            m_bLineOpen = true;
        }
    }
    if (!strText.empty())
        WriteLog(strText);
}

void CCliHost::SetProgressRange(uint32_t /*nLower*/, uint32_t nUpper)
{
    m_nFrames = nUpper;
    m_meter.Start(nUpper, m_nImageBytes, NowSec());
}

void CCliHost::SetProgressPos(uint32_t nPos)
{
    m_nFramesAcked = nPos;
    m_meter.Update(nPos, NowSec());
    DrawProgress(false);
}

void CCliHost::DrawProgress(bool bForce)
{
    if (m_bErrIsTerminal) {
        auto tpNow = CEventLoop::Clock::now();
        if (!bForce && m_bBarShown && tpNow - m_tpLastDraw < std::chrono::milliseconds(100))
            return;
        m_tpLastDraw = tpNow;
        fprintf(m_pErr, "\r%s\x1b[K", m_meter.BarText(g_nBarWidth).c_str());
        m_bBarShown = true;
        fflush(m_pErr);
    } else if (m_meter.TakePlainStep()) {
        fprintf(m_pErr, "%s\n", m_meter.PlainText().c_str());
        fflush(m_pErr);
    }
}

uintptr_t CCliHost::SetTimer(uintptr_t nIDEvent, unsigned nElapseMs)
{
    m_loop.SetTimer(nElapseMs, [this, nIDEvent]() {
        if (!m_bFinished)
            m_engine.OnTimer(nIDEvent);
    });
    return nIDEvent;
}

void CCliHost::KillTimer(uintptr_t /*nIDEvent*/)
{
    m_loop.KillTimer();
}

void CCliHost::MessageBox(const std::string& strText)
{
    m_strBoxText = strText;
}

bool CCliHost::RunOpenFileDialog(const std::string& /*strFilter*/, std::string& /*strPath*/)
{
    return false;
}

void CCliHost::SetFilePathText(const std::string& /*strPath*/) { }

void CCliHost::PostToOwner(std::function<void()> fn)
{
    m_loop.Post(std::move(fn));
}

void CCliHost::OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam)
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

void CCliHost::ShowError(const std::string& strCaption, const std::string& strText)
{
    std::string strFlat = strText;
    while (!strFlat.empty() && strFlat.back() == '\n')
        strFlat.pop_back();
    for (char& c : strFlat)
        if (c == '\n')
            c = ' ';
    EndProgressLine();
    fprintf(m_pErr, "brem-cli: %s: %s\n", strCaption.c_str(), strFlat.c_str());
    fflush(m_pErr);
    m_bPortError = true;
    // A port that fails mid-run has lost bytes of the download: stop rather than wait it out.
    if (m_bPortOpen)
        Finish(CLI_PORT, "the port failed: " + strFlat);
}
