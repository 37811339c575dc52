#include "downloadengine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

thread_local int g_nCounter = 0;
thread_local char g_szText[100];

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

std::string FrameText(const char* pszFormat, int nFrame)
{
    char szLine[96];
    snprintf(szLine, sizeof szLine, pszFormat, nFrame);
    return szLine;
}

} // namespace

CDownloadEngine::CDownloadEngine(CDownloadHost& host, CImageSource* pImage)
    : m_File(pImage ? *pImage : m_DiskFile)
    , m_host(host)
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
    if (m_bDownloading) {
        EndDownload(DownloadEnd::Abandoned, "DownLoad Abandoned");
        m_host.SetProgressPos(0);
    }
    m_File.Close();
    if (m_host.PortOpenFlag() != 1) {
        m_host.MessageBox("COM Not Open");
        return;
    }
    if (!m_File.Open(m_strFilePath)) {
        m_host.MessageBox("File Open Error");
        return;
    }
    const uint64_t nLength = m_File.GetLength();
    const char* pszRefusal = nullptr;
    if (nLength == 0)
        pszRefusal = "File Empty: nothing to download";
    else if (nLength > BREM_IMAGE_MAX)
        pszRefusal = "File Too Large: 64 MiB at most";
    else if (!TakeSnapshot())
        pszRefusal = "File Changed While Reading: try again";
    if (pszRefusal) {
        m_File.Close();
        m_pImage.reset();
        m_host.MessageBox(pszRefusal);
        return;
    }

    const std::vector<unsigned char>& vImage = *m_pImage;
    char szHeader[100] = {};
    memcpy(szHeader, vImage.data(), std::min<size_t>(vImage.size(), 51));
    m_host.AppendLine(TextOf(szHeader + 3, sizeof szHeader - 3));

    m_nTimerID = m_host.SetTimer(BREM_POLL_TIMER_ID, BREM_POLL_PERIOD_MS);
    m_dwFileLength = static_cast<uint32_t>(vImage.size());
    const uint32_t nFrames = FrameCount();
    m_host.SetProgressRange(0, nFrames);
    m_host.SetProgressPos(0);
    m_host.AppendLine(FrameText("There are total %d Frame", static_cast<int>(nFrames)));

    m_bDownloading = true;
    m_nState = STATE_POLLING;
    g_nCounter = 0;
    memset(g_szText, 0, sizeof g_szText);
    m_nOffset = 0;
    m_nOtherBytes = 0;
}

bool CDownloadEngine::TakeSnapshot()
{
    const uint64_t nLength = m_File.GetLength();
    m_stamp = m_File.Stamp();
    if (auto pShared = m_File.SharedBytes()) {
        m_pImage = std::move(pShared);
        // Read earlier, perhaps long before this download: the file must hold it still.
        return m_pImage->size() == nLength && m_File.Holds(m_pImage->data(), nLength);
    }
    auto pImage = std::make_shared<std::vector<unsigned char>>();
    try {
        pImage->assign(nLength, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_pImage = pImage;
    m_File.SeekToBegin();
    unsigned char cExtra = 0;
    // A writer at work shows as a short read, a byte past the length or a moved stamp.
    return m_File.Read(pImage->data(), static_cast<uint32_t>(nLength)) == nLength
        && m_File.Read(&cExtra, 1) == 0 && m_File.Stamp() == m_stamp;
}

void CDownloadEngine::OnTimer(uintptr_t /*nIDEvent*/)
{
    // Once the device has answered, a poll would restart its handshake in mid-download. While
    // the last poll is still waiting to go out, another would only go out with it and be
    // answered too, after the first frame.
    if (!m_bDownloading || m_nState != STATE_POLLING || m_nOutTx < m_nLastPollTx)
        return;
    const uint64_t nTx = m_host.WriteToPort(&g_cPoll, 1);
    if (nTx == 0) {
        EndDownload(DownloadEnd::PortRefused, "DownLoad Failed: the port did not take the poll");
        return;
    }
    if (m_nFirstPollTx == 0)
        m_nFirstPollTx = nTx;
    m_nLastPollTx = nTx;
}

long CDownloadEngine::OnComm(uintptr_t wParam, intptr_t /*lParam*/)
{
    const auto cByte = static_cast<unsigned char>(wParam & 0xFF);
    switch (m_nState) {
    case STATE_TERMINAL:
        m_host.AppendRaw(&cByte, 1);
        break;

    case STATE_POLLING: {
        // The answer is the first byte after a poll went out: a 'P' in a boot banner that was
        // still running, or one that came before the poll, answers nothing.
        const bool bAnswer = cByte == g_cPoll && m_bPollFresh;
        m_bPollFresh = false;
        if (!bAnswer) {
            m_host.AppendRaw(&cByte, 1);
            ++m_nOtherBytes;
            break;
        }
        m_host.KillTimer(m_nTimerID);
        memset(g_szText, 0, sizeof g_szText);
        g_nCounter = 0;
        m_nState = STATE_IDENT;
        m_nOtherBytes = 0;
        m_host.OnDownloadStep();
        break;
    }

    case STATE_IDENT:
        g_szText[g_nCounter++] = static_cast<char>(cByte);
        if (g_nCounter == static_cast<int>(BREM_IDENT_LENGTH)) {
            m_host.OnIdentification(
                reinterpret_cast<const unsigned char*>(g_szText), BREM_IDENT_LENGTH);
            m_host.AppendLine(TextOf(g_szText, sizeof g_szText));
            memset(g_szText, 0, sizeof g_szText);
            m_nState = STATE_SENDING;
            m_host.AppendLine("Handshake OK");
            g_nCounter = 0;
            m_nOtherBytes = 0;
            m_host.OnDownloadStep();
            SendNextFrame(true);
        }
        break;

    case STATE_SENDING:
        // Only an answer that came after the frame went out can be about it.
        if ((cByte != g_cAccepted && cByte != g_cRefused) || m_nFrameTx == 0
            || m_nOutTx < m_nFrameTx) {
            ++m_nOtherBytes;
            break;
        }
        m_nFrameTx = 0;
        if (cByte == g_cRefused) {
            EndDownload(DownloadEnd::Refused, "CheckSum Error");
            break;
        }
        ++g_nCounter;
        snprintf(g_szText, sizeof g_szText, "Frame %d  OK", g_nCounter);
        m_host.SetProgressPos(static_cast<uint32_t>(g_nCounter));
        m_host.AppendLine(TextOf(g_szText, sizeof g_szText));
        m_nOtherBytes = 0;
        m_host.OnDownloadStep();
        const bool bLast = static_cast<uint32_t>(g_nCounter) == FrameCount();
        if (!ImageIntact(bLast))
            EndDownload(DownloadEnd::ImageChanged,
                "DownLoad Failed: the image changed during the download: " + m_strFilePath);
        else if (bLast)
            EndDownload(DownloadEnd::Ok, "DownLoad OK");
        else
            SendNextFrame(false);
        break;
    }
    return 0;
}

void CDownloadEngine::OnTxEmpty(uint64_t nWriteNr)
{
    if (m_nLastPollTx > m_nOutTx && nWriteNr >= m_nLastPollTx)
        m_bPollFresh = true;
    m_nOutTx = std::max(m_nOutTx, nWriteNr);
}

void CDownloadEngine::OnTxFailed(uint64_t nWriteNr)
{
    // A write of this download, or one queued behind it, is lost: the device cannot have it all.
    if (!m_bDownloading || m_nFirstPollTx == 0 || nWriteNr < m_nFirstPollTx)
        return;
    if (m_nFrameTx != 0 && nWriteNr >= m_nFrameTx)
        EndDownload(DownloadEnd::PortFailed,
            FrameText("DownLoad Failed: the port could not write frame %d", g_nCounter + 1));
    else
        EndDownload(DownloadEnd::PortFailed, "DownLoad Failed: the port could not write");
}

void CDownloadEngine::OnPortClosed()
{
    m_nOutTx = 0;
    if (m_bDownloading)
        EndDownload(DownloadEnd::PortClosed, "DownLoad Failed: the port was closed");
}

bool CDownloadEngine::ImageIntact(bool bWhole)
{
    const SImageStamp stamp = m_File.Stamp();
    if (!bWhole && stamp == m_stamp)
        return true;
    if (!m_File.Holds(m_pImage->data(), m_pImage->size()))
        return false;
    m_stamp = stamp;
    return true;
}

void CDownloadEngine::EndDownload(DownloadEnd eEnd, const std::string& strLine)
{
    if (m_nState == STATE_POLLING)
        m_host.KillTimer(m_nTimerID);
    m_File.Close();
    m_pImage.reset();
    m_nState = STATE_TERMINAL;
    g_nCounter = 0;
    m_bDownloading = false;
    m_nFrameTx = 0;
    m_nFirstPollTx = 0;
    m_nLastPollTx = 0;
    m_bPollFresh = false;
    m_host.AppendLine(strLine);
    m_host.OnDownloadEnd(eEnd);
}

void CDownloadEngine::SendNextFrame(bool bFirst)
{
    if (!m_bDownloading || m_nOffset >= m_pImage->size())
        return;
    const uint32_t n = std::min<uint32_t>(
        BREM_FRAME_DATA_MAX, static_cast<uint32_t>(m_pImage->size() - m_nOffset));
    unsigned char buffer[BREM_FRAME_DATA_MAX + 6] = {};
    unsigned char* pFrame = bFirst ? buffer + 1 : buffer;
    memcpy(pFrame + 3, m_pImage->data() + m_nOffset, n);

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

    const uint64_t nTx = m_host.WriteToPort(buffer, n + (bFirst ? 6 : 5));
    if (nTx == 0) {
        // Skipping it would hand the device the next frame in its place.
        EndDownload(DownloadEnd::PortRefused,
            FrameText("DownLoad Failed: the port did not take frame %d", g_nCounter + 1));
        return;
    }
    m_nOffset += n;
    m_nFrameTx = nTx;
}
