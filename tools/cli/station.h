#pragma once

#include "clioptions.h"
#include "devicewatch.h"
#include "eventloop.h"
#include "imagesnapshot.h"
#include "reportfile.h"
#include "stationdisplay.h"
#include "stationdownload.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

// Flashes many devices at once from one reading of the image: the ports named, every serial
// device present, or, with --watch, each device as it is plugged in until a signal ends the
// run. Each device gets a download of its own (engine, serial port, event loop and thread), so
// that one that fails, hangs or is pulled out never holds up the others.
class CStation {
public:
    // bLive: pErr is a terminal that shows live lines.
    CStation(
        const CCliOptions& options, const CPortRoots& roots, FILE* pOut, FILE* pErr, bool bLive);
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // Returns the exit status: 0 when every device holds the image, else the highest status of
    // a device. The last line on pErr gives the counts.
    int Run();

private:
    class CTap;

    // The devices of a run without --watch, or a line that says why there are none.
    std::string PlanDownloads(std::vector<std::unique_ptr<SStationDownload>>& downloads);
    bool Wanted(const SSerialDevice& device) const;
    void Start(std::unique_ptr<SStationDownload> pDownload);
    void OnDevices(const std::vector<SPresentDevice>& present);
    void OnEnded(unsigned nId, int nStatus, const std::string& strVerdict,
        const std::string& strEndLine, bool bPortOpened);
    void WriteResult(const std::string& strLine);
    void Stop(int nSignal);
    void MaybeQuit();
    unsigned Running() const;
    void ShowRow(const SStationDownload& download);
    void ShowTally();
    double NowSec() const;
    std::string LastLine(int nStatus) const;

    const CCliOptions& m_options;
    const CPortRoots m_roots;
    FILE* m_pErr;
    CEventLoop m_loop;
    CImageSnapshot m_image;
    CReportFile m_report;
    CStationDisplay m_display;
    CDeviceWatch m_watch;
    CEventLoop::Clock::time_point m_tpStart;

    std::map<unsigned, std::unique_ptr<SStationDownload>> m_downloads;
    unsigned m_nNextId = 1;
    std::set<std::string> m_appearances; // --watch: the devices plugged in at the last look
    bool m_bStopping = false;
    int m_nStopSignal = 0;
    bool m_bReportFailed = false;
    std::string m_strOutError; // why a result line could not be written to stdout
    unsigned m_nDone = 0;
    unsigned m_nFailed = 0;
    int m_nWorst = 0;
    std::map<int, unsigned> m_failures; // status -> devices
};
