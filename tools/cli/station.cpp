#include "station.h"

#include "cliplatform.h"
#include "harmlesstext.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace {

constexpr unsigned g_nDrawMs = 100;

// The ports folder looked up once, here: the sessions' threads then read no environment.
CPortRoots FixedRoots(CPortRoots roots)
{
    roots.strPortsDir = roots.PortsDir();
    return roots;
}

// Few words for the counts on the last line.
std::string FailureWords(int nStatus)
{
    switch (nStatus) {
    case CLI_REFUSED:
        return "refused a frame";
    case CLI_PORT:
        return "port failed";
    case CLI_IMAGE:
        return "image changed";
    case CLI_SILENT:
        return "silent";
    default:
        return nStatus > 128 ? "interrupted" : "status " + std::to_string(nStatus);
    }
}

} // namespace

// Carries a session's news to the station's thread.
class CStation::CTap : public CSessionObserver {
public:
    CTap(CStation& station, unsigned nId)
        : m_station(station)
        , m_nId(nId)
    { }

    void OnFrameCount(uint32_t nFrames) override
    {
        Post([nFrames](CStation& st, SStationDownload& d) {
            d.nFrames = nFrames;
            d.meter.Start(nFrames, st.m_image.Size(), st.NowSec());
            d.strState = "polling";
        });
    }
    void OnFramesAcked(uint32_t nAcked) override
    {
        Post([nAcked](CStation& st, SStationDownload& d) {
            d.nAcked = nAcked;
            d.meter.Update(nAcked, st.NowSec());
            if (d.meter.TakePlainStep())
                st.m_display.Event(d.strLabel + ": " + d.meter.PlainText());
        });
    }
    void OnStep(DownloadState eState) override
    {
        if (eState == STATE_IDENT)
            Post([](CStation&, SStationDownload& d) { d.strState = "identifying"; });
    }
    void OnIdentification(const unsigned char* pBytes, uint32_t nCount) override
    {
        std::vector<unsigned char> ident(pBytes, pBytes + nCount);
        Post([ident](CStation& st, SStationDownload& d) {
            d.ident = ident;
            d.strState = "sending";
            // The rate counts from here: the poll wait is not transfer time.
            d.meter.Start(d.nFrames, st.m_image.Size(), st.NowSec());
            st.m_display.Event(d.strLabel + ": \"" + d.IdentText() + "\", sending "
                + std::to_string(d.nFrames) + " frames");
        });
    }

private:
    template <class F> void Post(F fn)
    {
        CStation* pStation = &m_station;
        const unsigned nId = m_nId;
        m_station.m_loop.Post([pStation, nId, fn]() {
            auto it = pStation->m_downloads.find(nId);
            if (it == pStation->m_downloads.end() || it->second->bEnded)
                return;
            fn(*pStation, *it->second);
            pStation->ShowRow(*it->second);
        });
    }

    CStation& m_station;
    const unsigned m_nId;
};

CStation::CStation(
    const CCliOptions& options, const CPortRoots& roots, FILE* pOut, FILE* pErr, bool bLive)
    : m_options(options)
    , m_roots(FixedRoots(roots))
    , m_pErr(pErr)
    , m_display(pOut, pErr, bLive)
{ }

CStation::~CStation()
{
    m_watch.Stop();
    for (auto& [nId, pDownload] : m_downloads) {
        if (pDownload->pSession)
            pDownload->pSession->Interrupt(SIGTERM);
        if (pDownload->thread.joinable())
            pDownload->thread.join();
    }
}

double CStation::NowSec() const
{
    return std::chrono::duration<double>(CEventLoop::Clock::now() - m_tpStart).count();
}

int CStation::Run()
{
    m_tpStart = CEventLoop::Clock::now();
    std::string strRefusal = m_image.Read(m_options.m_strImage);
    if (!strRefusal.empty()) {
        fprintf(m_pErr, "brem-cli: %s\n", strRefusal.c_str());
        return CLI_IMAGE;
    }
    if (!m_options.m_strReport.empty()) {
        strRefusal = m_report.Open(m_options.m_strReport);
        if (!strRefusal.empty()) {
            fprintf(m_pErr, "brem-cli: %s\n", strRefusal.c_str());
            return CLI_LOG;
        }
    }
    std::vector<std::unique_ptr<SStationDownload>> planned;
    if (!m_options.m_bWatch) {
        strRefusal = PlanDownloads(planned);
        if (!strRefusal.empty()) {
            fprintf(m_pErr, "brem-cli: %s\n", strRefusal.c_str());
            return planned.empty() ? CLI_PORT : CLI_USAGE;
        }
    }
    fprintf(m_pErr, "brem-cli: image %s, %llu bytes, SHA-256 %s\n",
        HarmlessText(m_image.Path()).c_str(), static_cast<unsigned long long>(m_image.Size()),
        m_image.Sha256().c_str());
    fflush(m_pErr);

    // Before any thread starts, so that only the loop sees the signals.
    m_loop.CatchSignals([this](int nSignal) { Stop(nSignal); });
    if (m_options.m_bWatch) {
        const bool bWatching = m_watch.Start(m_roots, [this](std::vector<SPresentDevice> present) {
            m_loop.Post([this, present]() { OnDevices(present); });
        });
        if (!bWatching) {
            fprintf(m_pErr, "brem-cli: cannot watch for devices: %s\n", strerror(errno));
            return CLI_PORT;
        }
    }
    for (auto& pDownload : planned)
        Start(std::move(pDownload));
    if (m_display.Live())
        m_loop.SetTimer(g_nDrawMs, [this]() { m_display.Draw(); });
    ShowTally();
    MaybeQuit();
    m_loop.Run();
    m_watch.Stop();
    m_loop.KillTimer();

    m_display.Clear();
    if (!m_options.m_bWatch) {
        size_t nLabelWidth = 0;
        for (const auto& [nId, pDownload] : m_downloads)
            nLabelWidth = std::max(nLabelWidth, pDownload->strLabel.size());
        for (const auto& [nId, pDownload] : m_downloads)
            WriteResult(pDownload->ResultLine(nLabelWidth));
    }
    int nStatus = m_nWorst;
    if (m_bReportFailed || !m_strOutError.empty())
        nStatus = std::max(nStatus, static_cast<int>(CLI_LOG));
    fprintf(m_pErr, "brem-cli: %s\n", LastLine(nStatus).c_str());
    fflush(m_pErr);
    return nStatus;
}

std::string CStation::PlanDownloads(std::vector<std::unique_ptr<SStationDownload>>& downloads)
{
    const std::vector<SSerialDevice> devices = DiscoverSerialDevices(m_roots);
    if (m_options.m_bAllPorts) {
        for (const SSerialDevice& dev : devices) {
            auto pDownload = std::make_unique<SStationDownload>();
            pDownload->strLabel = dev.strName;
            pDownload->strPort = dev.strPath;
            pDownload->nPortNr = dev.comNames.empty() ? 0 : ComPortNumber(dev.comNames.front());
            pDownload->device = dev;
            downloads.push_back(std::move(pDownload));
        }
        if (downloads.empty())
            return std::string("no serial device is present (") + g_szAdapterHint
                + "; see brem-cli --list-ports)";
        return std::string();
    }
    std::map<std::string, std::string> seen; // the device each name leads to -> the name
    for (const CCliOptions::SPort& port : m_options.m_ports) {
        const std::string strDevice = ResolvePortName(port.strName, m_roots);
        std::error_code ec;
        std::string strWhere = std::filesystem::weakly_canonical(strDevice, ec).string();
        if (ec)
            strWhere = strDevice;
        if (!seen.emplace(strWhere, port.strName).second)
            return "--port " + seen[strWhere] + " and --port " + port.strName
                + " are the same device (" + strWhere + ")";
        auto pDownload = std::make_unique<SStationDownload>();
        pDownload->strLabel = HarmlessText(port.strName);
        pDownload->strPort = port.strName;
        pDownload->nPortNr = port.nPortNr;
        if (const SSerialDevice* pDevice = FindSerialDevice(devices, strDevice))
            pDownload->device = *pDevice;
        else
            pDownload->device.strPath = strDevice;
        downloads.push_back(std::move(pDownload));
    }
    return std::string();
}

bool CStation::Wanted(const SSerialDevice& device) const
{
    if (m_options.m_ports.empty())
        return true;
    for (const CCliOptions::SPort& port : m_options.m_ports) {
        if (FindSerialDevice({ device }, ResolvePortName(port.strName, m_roots)))
            return true;
    }
    return false;
}

void CStation::Start(std::unique_ptr<SStationDownload> pDownload)
{
    SStationDownload& d = *pDownload;
    d.nId = m_nNextId++;
    d.tpStarted = std::chrono::system_clock::now();
    d.dStartSec = NowSec();
    d.pView = std::make_unique<CSnapshotView>(m_image);
    d.pTap = std::make_unique<CTap>(*this, d.nId);
    CPortSession::SSettings settings;
    settings.strPort = d.strPort;
    settings.nPortNr = d.nPortNr;
    settings.nBaud = m_options.m_nBaud;
    settings.cParity = m_options.m_cParity;
    settings.nDataBits = m_options.m_nDataBits;
    settings.nStopBits = m_options.m_nStopBits;
    settings.lineControl = m_options.m_lineControl;
    settings.resetPulse = m_options.m_resetPulse;
    settings.dTimeoutSec = m_options.m_dTimeoutSec;
    settings.strImage = m_image.Path();
    settings.roots = m_roots;
    settings.pImage = d.pView.get();
    d.pSession = std::make_unique<CPortSession>(settings, *d.pTap);
    m_display.Event(d.strLabel + ": started");
    ShowRow(d);
    CPortSession* pSession = d.pSession.get();
    const unsigned nId = d.nId;
    m_downloads[nId] = std::move(pDownload);
    // Only this thread touches the session until the station has heard it ended.
    try {
        m_downloads[nId]->thread = std::thread([this, pSession, nId]() {
            pSession->Run();
            m_loop.Post([this, nId, nStatus = pSession->Status(), strVerdict = pSession->Verdict(),
                            strEndLine = pSession->EndLine(), bOpened = pSession->PortOpened()]() {
                OnEnded(nId, nStatus, strVerdict, strEndLine, bOpened);
            });
        });
    } catch (const std::system_error& error) {
        m_loop.Post([this, nId, strWhy = std::string(error.what())]() {
            OnEnded(nId, CLI_PORT, "cannot start the port's download: " + strWhy, "", false);
        });
        return;
    }
    if (m_bStopping)
        pSession->Interrupt(m_nStopSignal);
}

void CStation::OnDevices(const std::vector<SPresentDevice>& present)
{
    if (m_bStopping)
        return;
    std::set<std::string> appearances;
    for (const SPresentDevice& p : present) {
        if (!Wanted(p.device))
            continue;
        appearances.insert(p.strAppearance);
        // A device that stays plugged in is flashed once.
        if (m_appearances.count(p.strAppearance))
            continue;
        auto pDownload = std::make_unique<SStationDownload>();
        pDownload->strLabel = p.device.strName;
        pDownload->strPort = p.device.strPath;
        pDownload->nPortNr
            = p.device.comNames.empty() ? 0 : ComPortNumber(p.device.comNames.front());
        pDownload->device = p.device;
        pDownload->strAppearance = p.strAppearance;
        m_display.Event(p.device.strName + ": plugged in (" + p.device.Label() + ")");
        Start(std::move(pDownload));
    }
    for (auto it = m_downloads.begin(); it != m_downloads.end();) {
        SStationDownload& d = *it->second;
        if (d.bGone || appearances.count(d.strAppearance)) {
            ++it;
            continue;
        }
        d.bGone = true;
        m_display.Event(d.strLabel + ": unplugged");
        if (!d.bEnded) {
            // Its download fails by itself once the port finds the device gone.
            d.strState = "unplugged";
            ShowRow(d);
            ++it;
            continue;
        }
        m_display.RemoveRow(d.nId);
        it = m_downloads.erase(it);
    }
    m_appearances.swap(appearances);
    ShowTally();
}

void CStation::OnEnded(unsigned nId, int nStatus, const std::string& strVerdict,
    const std::string& strEndLine, bool bPortOpened)
{
    auto it = m_downloads.find(nId);
    if (it == m_downloads.end())
        return;
    SStationDownload& d = *it->second;
    d.End(nStatus, strVerdict, strEndLine, bPortOpened, NowSec());
    if (nStatus == CLI_OK) {
        ++m_nDone;
    } else {
        ++m_nFailed;
        ++m_failures[nStatus];
    }
    m_nWorst = std::max(m_nWorst, nStatus);
    if (!m_options.m_strReport.empty() && !m_report.Append(d.Record(m_image)) && !m_bReportFailed) {
        m_bReportFailed = true;
        fprintf(m_pErr, "brem-cli: %s\n", m_report.Error().c_str());
        fflush(m_pErr);
    }
    if (m_options.m_bWatch)
        WriteResult(d.ResultLine(8));
    else
        m_display.Event(d.strLabel + ": " + d.strState);
    if (d.bGone) {
        m_display.RemoveRow(d.nId);
        m_downloads.erase(it);
    } else {
        ShowRow(d);
    }
    ShowTally();
    MaybeQuit();
}

void CStation::WriteResult(const std::string& strLine)
{
    if (m_display.Result(strLine))
        return;
    const int nError = errno ? errno : EIO;
    if (m_strOutError.empty())
        m_strOutError = strerror(nError);
    // Nobody reads the results any more (brem-cli --watch ... | head -3): the run is over.
    if (nError == EPIPE)
        Stop(g_nPipeSignal);
}

void CStation::Stop(int nSignal)
{
    if (m_bStopping)
        return;
    m_bStopping = true;
    m_nStopSignal = nSignal;
    m_watch.Stop();
    for (auto& [nId, pDownload] : m_downloads) {
        if (!pDownload->bEnded)
            pDownload->pSession->Interrupt(nSignal);
    }
    ShowTally();
    MaybeQuit();
}

unsigned CStation::Running() const
{
    unsigned nRunning = 0;
    for (const auto& [nId, pDownload] : m_downloads)
        nRunning += pDownload->bEnded ? 0 : 1;
    return nRunning;
}

void CStation::MaybeQuit()
{
    if (Running() == 0 && (m_bStopping || !m_options.m_bWatch))
        m_loop.Quit();
}

void CStation::ShowRow(const SStationDownload& d)
{
    m_display.SetRow(d.nId, d.Row());
}

void CStation::ShowTally()
{
    const std::string strCounts = std::to_string(m_nDone) + " done, " + std::to_string(m_nFailed)
        + " failed, " + std::to_string(Running()) + " in progress";
    if (m_bStopping)
        m_display.SetTally("stopping: " + strCounts);
    else if (m_options.m_bWatch)
        m_display.SetTally("station: " + strCounts + "; plug in a device to flash it, Ctrl+C ends");
    else
        m_display.SetTally(std::to_string(m_downloads.size()) + " devices: " + strCounts);
}

std::string CStation::LastLine(int nStatus) const
{
    std::string strLine;
    if (m_bStopping)
        strLine
            = std::string(m_nStopSignal == g_nPipeSignal ? "stdout was closed" : "ended by signal")
            + "; ";
    const unsigned nDevices = m_nDone + m_nFailed;
    strLine += std::to_string(nDevices) + (nDevices == 1 ? " device: " : " devices: ")
        + std::to_string(m_nDone) + " hold the image, " + std::to_string(m_nFailed) + " failed";
    if (!m_failures.empty()) {
        std::string strWhy;
        for (const auto& [nFailStatus, nCount] : m_failures)
            strWhy += (strWhy.empty() ? "" : ", ") + std::to_string(nCount) + " "
                + FailureWords(nFailStatus);
        strLine += " (" + strWhy + ")";
    }
    if (m_bReportFailed)
        strLine += "; the report is incomplete";
    if (!m_strOutError.empty())
        strLine += "; results lost on stdout (" + m_strOutError + ")";
    return strLine + "; exit status " + std::to_string(nStatus);
}
