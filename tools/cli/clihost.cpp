#include "clihost.h"

#include "cliplatform.h"
#include "harmlesstext.h"
#include "imagesnapshot.h"

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

constexpr unsigned g_nBarWidth = 30;

CPortSession::SSettings SessionSettings(const CCliOptions& options, const CPortRoots& roots)
{
    CPortSession::SSettings settings;
    settings.strPort = options.m_strPort;
    settings.nPortNr = options.m_nPortNr;
    settings.nBaud = options.m_nBaud;
    settings.cParity = options.m_cParity;
    settings.nDataBits = options.m_nDataBits;
    settings.nStopBits = options.m_nStopBits;
    settings.lineControl = options.m_lineControl;
    settings.resetPulse = options.m_resetPulse;
    settings.dTimeoutSec = options.m_dTimeoutSec;
    settings.strImage = options.m_strImage;
    settings.roots = roots;
    return settings;
}

} // namespace

CCliHost::CCliHost(const CCliOptions& options, const CPortRoots& roots, FILE* pOut, FILE* pErr,
    bool bErrIsTerminal)
    : m_options(options)
    , m_pOut(pOut)
    , m_pErr(pErr)
    , m_bErrIsTerminal(bErrIsTerminal)
    , m_session(SessionSettings(options, roots), *this)
{ }

double CCliHost::NowSec() const
{
    return std::chrono::duration<double>(CEventLoop::Clock::now() - m_tpStart).count();
}

std::string CCliHost::CheckImage()
{
    CImageFile file;
    const std::string strRefusal = OpenImage(m_options.m_strImage, file);
    m_nImageBytes = file.GetLength();
    return strRefusal;
}

int CCliHost::Run()
{
    m_tpStart = CEventLoop::Clock::now();
    const std::string strRefusal = CheckImage();
    if (!strRefusal.empty()) {
        fprintf(m_pErr, "brem-cli: %s\n", strRefusal.c_str());
        fflush(m_pErr);
        return CLI_IMAGE;
    }

    // Before the port starts its thread, so that only the loop sees the signals.
    m_session.Loop().CatchSignals([this](int nSignal) { OnSignal(nSignal); });
    m_session.Run();

    WriteLog(m_bLineOpen ? "\n" : "");
    int nStatus = m_session.Status();
    std::string strLastLine = m_session.Verdict();
    if (m_bLogFailed && nStatus == CLI_OK) {
        nStatus = CLI_LOG;
        strLastLine
            = "the log could not be written to stdout (" + m_strLogError + "); " + strLastLine;
    }
    EndProgressLine();
    fprintf(m_pErr, "brem-cli: %s\n", strLastLine.c_str());
    fflush(m_pErr);
    return nStatus;
}

void CCliHost::EndProgressLine()
{
    if (m_bBarShown) {
        fputc('\n', m_pErr);
        m_bBarShown = false;
    }
    fflush(m_pErr);
}

void CCliHost::OnVerdict(int nStatus)
{
    if (nStatus == CLI_OK)
        DrawProgress(true);
}

void CCliHost::OnSignal(int nSignal)
{
    m_session.Finish(128 + nSignal, "interrupted by " + SignalName(nSignal));
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
        m_session.Finish(CLI_PIPE_CLOSED, "stdout was closed; the download was stopped");
        return;
    }
    m_strLogError = strerror(nError);
    EndProgressLine();
    fprintf(m_pErr, "brem-cli: cannot write the log to stdout: %s\n", m_strLogError.c_str());
    fflush(m_pErr);
}

void CCliHost::OnLogLine(const std::string& strText)
{
    // The line ends at its first zero byte, as in the window's log. Device text left open
    // before it (a banner while polling) keeps its own line.
    std::string strLine = m_bLineOpen ? "\n" : "";
    strLine += HarmlessText(strText.c_str(), strnlen(strText.c_str(), strText.size()));
    strLine += '\n';
    m_bLineOpen = false;
    WriteLog(strLine);
    // Rate and time left count from here: the poll wait is not transfer time.
    if (strText == "Handshake OK")
        m_meter.Start(m_session.Frames(), m_nImageBytes, NowSec());
}

void CCliHost::OnLogRaw(const unsigned char* pBytes, uint32_t nCount)
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

void CCliHost::OnFrameCount(uint32_t nFrames)
{
    m_meter.Start(nFrames, m_nImageBytes, NowSec());
}

void CCliHost::OnFramesAcked(uint32_t nAcked)
{
    m_meter.Update(nAcked, NowSec());
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

void CCliHost::OnPortError(const std::string& strCaption, const std::string& strText)
{
    EndProgressLine();
    fprintf(m_pErr, "brem-cli: %s: %s\n", strCaption.c_str(), strText.c_str());
    fflush(m_pErr);
}
