#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One device download, as the report keeps it.
struct SDownloadRecord {
    std::chrono::system_clock::time_point tpStarted;
    std::chrono::system_clock::time_point tpEnded;
    double dSeconds = 0;
    std::string strPort; // as named, or as the device is listed
    std::string strDevice; // the path opened
    std::string strById; // the adapter's serial/by-id link; "" when it has none
    std::string strAdapter; // "FT232R USB UART (A50285BI)"; "" when not known
    std::string strAdapterSerial; // its USB serial number; "" when none
    std::vector<unsigned char> ident; // the 48 bytes; empty when the device gave none
    std::string strImage;
    uint64_t nImageSize = 0;
    std::string strImageSha256;
    uint32_t nFrames = 0;
    uint32_t nFramesAcked = 0;
    std::string strOutcome; // in the log's words: "DownLoad OK", "CheckSum Error", ...
    int nStatus = 0;
    std::string strReason; // brem-cli's line for the status
};

// The report of a production line: one JSON object per line for each device download,
// appended whole and written through to the disk before the next, so that a crash loses at
// most the downloads under way.
class CReportFile {
public:
    CReportFile() = default;
    ~CReportFile();
    CReportFile(const CReportFile&) = delete;
    CReportFile& operator=(const CReportFile&) = delete;

    // "" when the file is open for appending, else why not.
    std::string Open(const std::string& strPath);
    // False, with the reason in Error(), when the line did not reach the disk whole.
    bool Append(const SDownloadRecord& record);
    const std::string& Error() const { return m_strError; }

    // The record as one line of JSON, without the line break. Text that is not UTF-8 (a
    // device's, a path's) shows with replacement characters; the identification's exact bytes
    // are in its hex field.
    static std::string JsonLine(const SDownloadRecord& record);

private:
    FILE* m_pFile = nullptr;
    std::string m_strPath;
    std::string m_strError;
};
