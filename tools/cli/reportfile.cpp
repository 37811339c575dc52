#include "reportfile.h"

#include "cliplatform.h"
#include "clistatus.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

nlohmann::ordered_json TextOrNull(const std::string& str)
{
    return str.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(str);
}

} // namespace

CReportFile::~CReportFile()
{
    if (m_pFile)
        fclose(m_pFile);
}

std::string CReportFile::Open(const std::string& strPath)
{
    m_strPath = strPath;
    std::string strWhy;
    m_pFile = OpenToAppend(strPath, strWhy);
    if (!m_pFile)
        return "cannot open report " + strPath + ": " + strWhy;
    // A line leaves in one write, so that stations appending to one file never mix lines.
    setvbuf(m_pFile, nullptr, _IOFBF, 1 << 16);
    return std::string();
}

bool CReportFile::Append(const SDownloadRecord& record)
{
    const std::string strLine = JsonLine(record) + "\n";
    errno = 0;
    if (fwrite(strLine.data(), 1, strLine.size(), m_pFile) != strLine.size()
        || !SyncToDisk(m_pFile)) {
        m_strError = "cannot write report " + m_strPath + ": " + strerror(errno ? errno : EIO);
        clearerr(m_pFile);
        return false;
    }
    return true;
}

std::string CReportFile::JsonLine(const SDownloadRecord& record)
{
    static const char g_szHex[] = "0123456789abcdef";
    nlohmann::ordered_json ident = nullptr;
    nlohmann::ordered_json identHex = nullptr;
    if (!record.ident.empty()) {
        const auto* pText = reinterpret_cast<const char*>(record.ident.data());
        ident = std::string(pText, strnlen(pText, record.ident.size()));
        std::string strHex;
        for (unsigned char c : record.ident) {
            strHex += g_szHex[c >> 4];
            strHex += g_szHex[c & 15];
        }
        identHex = strHex;
    }
    // Keys in the order a reader looks for them.
    nlohmann::ordered_json line = {
        { "started", UtcText(record.tpStarted) },
        { "ended", UtcText(record.tpEnded) },
        { "seconds", std::round(record.dSeconds * 1000) / 1000 },
        { "port", record.strPort },
        { "device", record.strDevice },
        { "by_id", TextOrNull(record.strById) },
        { "adapter", TextOrNull(record.strAdapter) },
        { "adapter_serial", TextOrNull(record.strAdapterSerial) },
        { "ident", ident },
        { "ident_hex", identHex },
        { "image", record.strImage },
        { "image_size", record.nImageSize },
        { "image_sha256", record.strImageSha256 },
        { "frames", record.nFrames },
        { "frames_acked", record.nFramesAcked },
        { "outcome", record.strOutcome },
        { "status", record.nStatus },
        { "meaning", StatusMeaning(record.nStatus) },
        { "reason", record.strReason },
    };
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
