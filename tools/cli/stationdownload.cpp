#include "stationdownload.h"

#include "harmlesstext.h"

#include <cstring>
#include <filesystem>

namespace {

std::string SecondsText(double dSec)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%.2f s", dSec);
    return sz;
}

} // namespace

void SStationDownload::End(int nEndStatus, const std::string& strEndVerdict,
    const std::string& strLogEnd, bool bOpened, double dNowSec)
{
    if (thread.joinable())
        thread.join();
    pSession.reset();
    pTap.reset();
    pView.reset();
    bEnded = true;
    tpEnded = std::chrono::system_clock::now();
    dSeconds = dNowSec - dStartSec;
    nStatus = nEndStatus;
    strVerdict = strEndVerdict;
    strEndLine = strLogEnd;
    bPortOpened = bOpened;
    strState = nStatus == CLI_OK
        ? "done in " + SecondsText(dSeconds)
        : "FAILED (" + std::to_string(nStatus) + ") " + HarmlessText(strVerdict);
}

std::string SStationDownload::IdentText() const
{
    if (ident.empty())
        return std::string();
    const auto* pText = reinterpret_cast<const char*>(ident.data());
    return HarmlessText(pText, strnlen(pText, ident.size()));
}

SLiveRow SStationDownload::Row() const
{
    return { strLabel, IdentText(), nFrames, nAcked, meter.RateBytesPerSec(), strState };
}

std::string SStationDownload::ResultLine(size_t nLabelWidth) const
{
    std::string strLabelPadded = strLabel;
    strLabelPadded.resize(std::max(nLabelWidth, strLabel.size()), ' ');
    std::string strOutcome = nStatus == CLI_OK ? "ok" : "FAILED " + std::to_string(nStatus);
    strOutcome.resize(std::max<size_t>(strOutcome.size(), 10), ' ');
    const std::string strIdent = ident.empty() ? "-" : "\"" + IdentText() + "\"";
    return strLabelPadded + "  " + strOutcome + "  " + SecondsText(dSeconds) + "  " + strIdent
        + "  " + HarmlessText(strVerdict);
}

SDownloadRecord SStationDownload::Record(const CImageSnapshot& image) const
{
    SDownloadRecord record;
    record.tpStarted = tpStarted;
    record.tpEnded = tpEnded;
    record.dSeconds = dSeconds;
    record.strPort = strLabel;
    record.strDevice = device.strPath.empty() ? strPort : device.strPath;
    record.strById = device.strById;
    record.strAdapter = device.strName.empty() ? "" : device.Label();
    record.strAdapterSerial = device.strSerial;
    record.ident = ident;
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(image.Path(), ec);
    record.strImage = ec ? image.Path() : absolute.string();
    record.nImageSize = image.Size();
    record.strImageSha256 = image.Sha256();
    record.nFrames = nFrames;
    record.nFramesAcked = nAcked;
    // In the log's words where the engine ended the download, in the window's for a port that
    // would not open.
    record.strOutcome = !strEndLine.empty() ? strEndLine
        : bPortOpened                       ? "DownLoad Failed: " + strVerdict
                                            : "Port Init Error";
    record.nStatus = nStatus;
    record.strReason = strVerdict;
    return record;
}
