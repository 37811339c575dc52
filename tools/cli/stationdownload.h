#pragma once

#include "clistatus.h"
#include "imagesnapshot.h"
#include "portdiscovery.h"
#include "portsession.h"
#include "progressmeter.h"
#include "reportfile.h"
#include "stationdisplay.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// One device download of a station: its session, which runs on a thread of its own, and what
// the station has heard of it, which only the station's thread touches.
struct SStationDownload {
    unsigned nId = 0;
    std::string strLabel;
    std::string strPort; // what the session opens
    unsigned nPortNr = 0;
    SSerialDevice device; // as discovered; no name when the device is not listed
    std::string strAppearance; // with --watch: this plug-in

    std::unique_ptr<CSnapshotView> pView;
    std::unique_ptr<CSessionObserver> pTap;
    std::unique_ptr<CPortSession> pSession;
    std::thread thread;

    std::chrono::system_clock::time_point tpStarted, tpEnded;
    double dStartSec = 0;
    double dSeconds = 0;
    std::vector<unsigned char> ident;
    CProgressMeter meter;
    uint32_t nFrames = 0;
    uint32_t nAcked = 0;
    std::string strState = "opening";
    bool bEnded = false;
    bool bGone = false; // with --watch: unplugged
    int nStatus = CLI_OK;
    std::string strVerdict;
    std::string strEndLine;
    bool bPortOpened = false;

    // Its session has ended (and its thread with it) with this verdict.
    void End(int nEndStatus, const std::string& strEndVerdict, const std::string& strLogEnd,
        bool bOpened, double dNowSec);
    std::string IdentText() const;
    SLiveRow Row() const;
    // "ttyUSB0  FAILED 5    4.52 s  "DEV 1.0"  no answer to frame 3 within 4 s; ..."
    std::string ResultLine(size_t nLabelWidth) const;
    SDownloadRecord Record(const CImageSnapshot& image) const;
};
