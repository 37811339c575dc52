#include "downloadengine.h"

#include <climits>
#include <cstdio>
#include <cstring>

int g_nCounter = 0;
char g_szText[100];

namespace {

constexpr unsigned char g_cPoll = 'P';
constexpr unsigned char g_cAccepted = 0x05;
constexpr unsigned char g_cRefused = 0x15;
constexpr unsigned char g_cHandshake = 0x06;
constexpr unsigned char g_cStart = 0x02;
constexpr unsigned char g_cEndFull = 0x17;
constexpr unsigned char g_cEndShort = 0x03;

// The text of a zero-padded buffer up to its first zero byte, never past its end.
std::string TextOf(const char* pBuffer, size_t nSize)
{
    return std::string(pBuffer, strnlen(pBuffer, nSize));
}

} // namespace

CDownloadEngine::CDownloadEngine(CDownloadHost& host)
    : m_host(host)
{ }

uint32_t CDownloadEngine::FrameCount() const
{
    return static_cast<uint32_t>(
        (uint64_t { m_dwFileLength } + BREM_FRAME_DATA_MAX - 1) / BREM_FRAME_DATA_MAX);
}

void CDownloadEngine::OnLoad()
{
    std::string strPath;
    if (!m_host.RunOpenFileDialog("Bin Files(*.bin)|*.bin|All Files(*.*)|*.*||", strPath))
        return;
    m_strFilePath = strPath;
    if (m_strFilePath.find(".bin") != std::string::npos
        || m_strFilePath.find(".BIN") != std::string::npos)
        m_host.SetFilePathText(m_strFilePath);
    else
        m_host.MessageBox("File Format Error");
}

void CDownloadEngine::OnDown()
{
    m_File.Close();
    if (m_host.PortOpenFlag() != 1) {
        m_host.MessageBox("COM Not Open");
        return;
    }
    // The length is kept in 32 bits: a larger image would be cut short yet reported complete.
    if (!m_File.Open(m_strFilePath) || m_File.GetLength() > UINT32_MAX) {
        m_File.Close();
        m_host.MessageBox("File Open Error");
        return;
    }

    char szHeader[100] = {};
    m_File.Read(szHeader, 51);
    m_host.AppendLine(TextOf(szHeader + 3, sizeof szHeader - 3));

    m_nTimerID = m_host.SetTimer(BREM_POLL_TIMER_ID, BREM_POLL_PERIOD_MS);
    m_File.SeekToBegin();
    m_dwFileLength = static_cast<uint32_t>(m_File.GetLength());
    uint32_t nFrames = FrameCount();
    m_host.SetProgressRange(0, nFrames);
    m_host.SetProgressPos(0);

    char szLine[64];
    snprintf(szLine, sizeof szLine, "There are total %d Frame", static_cast<int>(nFrames));
    m_host.AppendLine(szLine);
}

void CDownloadEngine::OnTimer(uintptr_t /*nIDEvent*/)
{
    m_nState = STATE_POLLING;
    m_host.WriteToPort(&g_cPoll, 1);
}

long CDownloadEngine::OnComm(uintptr_t wParam, intptr_t /*lParam*/)
{
    const auto cByte = static_cast<unsigned char>(wParam & 0xFF);
    switch (m_nState) {
    case STATE_TERMINAL:
        m_host.AppendRaw(&cByte, 1);
        break;

    case STATE_POLLING:
        if (cByte == g_cPoll)
            m_host.KillTimer(m_nTimerID);
        memset(g_szText, 0, sizeof g_szText);
        m_nState = STATE_IDENT;
        break;

    case STATE_IDENT:
        // A count left over from an interrupted download may lie past the identification.
        if (g_nCounter < 0 || g_nCounter >= static_cast<int>(BREM_IDENT_LENGTH))
            g_nCounter = 0;
        g_szText[g_nCounter++] = static_cast<char>(cByte);
        if (g_nCounter == static_cast<int>(BREM_IDENT_LENGTH)) {
            m_host.AppendLine(TextOf(g_szText, sizeof g_szText));
            memset(g_szText, 0, sizeof g_szText);
            m_nState = STATE_SENDING;
            m_host.AppendLine("Handshake OK");
            g_nCounter = 0;
            SendNextFrame(true);
        }
        break;

    case STATE_SENDING:
        if (cByte == g_cRefused) {
            m_File.Close();
            g_nCounter = 0;
            m_nState = STATE_TERMINAL;
            m_host.AppendLine("CheckSum Error");
            break;
        }
        if (cByte == g_cAccepted) {
            // An empty image never completes, so a device could count this past INT_MAX.
            if (g_nCounter < INT_MAX)
                ++g_nCounter;
            snprintf(g_szText, sizeof g_szText, "Frame %d  OK", g_nCounter);
            m_host.SetProgressPos(static_cast<uint32_t>(g_nCounter));
            m_host.AppendLine(TextOf(g_szText, sizeof g_szText));
            SendNextFrame(false);
        }
        if (static_cast<int64_t>(g_nCounter) == static_cast<int64_t>(FrameCount())) {
            m_File.Close();
            g_nCounter = 0;
            m_nState = STATE_TERMINAL;
            m_host.AppendLine("DownLoad OK");
        }
        break;
    }
    return 0;
}

void CDownloadEngine::SendNextFrame(bool bFirst)
{
    unsigned char buffer[BREM_FRAME_DATA_MAX + 6] = {};
    unsigned char* pFrame = bFirst ? buffer + 1 : buffer;
    // Reading a closed image yields 0 bytes, so nothing goes out and nothing is logged.
    const uint32_t n = m_File.Read(pFrame + 3, BREM_FRAME_DATA_MAX);
    if (n == 0)
        return;

    unsigned char cSum = 0;
    for (uint32_t i = 0; i < n; ++i)
        cSum ^= pFrame[3 + i];
    pFrame[0] = g_cStart;
    pFrame[1] = static_cast<unsigned char>((n >> 8) & 0xFF);
    pFrame[2] = static_cast<unsigned char>(n & 0xFF);
    pFrame[3 + n] = cSum;
    pFrame[4 + n] = n == BREM_FRAME_DATA_MAX ? g_cEndFull : g_cEndShort;
    if (bFirst)
        buffer[0] = g_cHandshake;

    m_host.WriteToPort(buffer, n + (bFirst ? 6 : 5));
    if (bFirst && n < BREM_FRAME_DATA_MAX)
        m_host.AppendLine("DownLoad OK");
}
