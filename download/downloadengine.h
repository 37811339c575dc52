#pragma once

#include "downloadhost.h"
#include "imagefile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum DownloadState : int {
    STATE_TERMINAL = 0, // no download: received bytes go to the log
    STATE_POLLING = 1, // DOWN pressed; polling with 'P' until the device answers 'P'
    STATE_IDENT = 2, // collecting the 48-byte identification
    STATE_SENDING = 3, // a frame in flight; the device's answer to it decides what follows
};

constexpr uintptr_t BREM_POLL_TIMER_ID = 5;
constexpr unsigned BREM_POLL_PERIOD_MS = 500;
constexpr uint32_t BREM_FRAME_DATA_MAX = 4096;
constexpr uint32_t BREM_IDENT_LENGTH = 48;
// The image is held in memory for the whole download; a serial line takes hours for this much.
constexpr uint64_t BREM_IMAGE_MAX = 64 * 1024 * 1024;

// Module-level as the handlers have always kept them, but one per thread: engines that run at
// once, each on a thread of its own, must not count each other's frames.
extern thread_local int g_nCounter;
extern thread_local char g_szText[100];

// The download state machine and the Load/DOWN commands, free of any GUI. The device gets
// the image exactly as it was when DOWN was pressed, each frame once, whole and in order, and
// "DownLoad OK" means it acknowledged the last one after it went out.
class CDownloadEngine {
private:
    CImageFile m_DiskFile;

public:
    // pImage: where images are read from; null means files on disk.
    explicit CDownloadEngine(CDownloadHost& host, CImageSource* pImage = nullptr);

    void OnLoad();
    void OnDown();
    void OnTimer(uintptr_t nIDEvent);
    // A received byte (low 8 bits of wParam); lParam is the port number. Returns 0.
    long OnComm(uintptr_t wParam, intptr_t lParam);
    // WM_COMM_TXEMPTY: every write up to number nWriteNr (as WriteToPort returned it) is out.
    void OnTxEmpty(uint64_t nWriteNr);
    // WM_COMM_TXFAILED: the write that carried the calls up to nWriteNr failed or was dropped.
    void OnTxFailed(uint64_t nWriteNr);
    // The port was closed: its write numbers start again, and a download cannot go on.
    void OnPortClosed();
    void SendNextFrame(bool bFirst);

    // F = (length + 4095) / 4096.
    uint32_t FrameCount() const;
    // From a DOWN that opened its image until the download ends.
    bool Downloading() const { return m_bDownloading; }
    // Bytes the device sent since its last step that were not one.
    uint64_t OtherBytes() const { return m_nOtherBytes; }

    DownloadState m_nState = STATE_TERMINAL;
    CImageSource& m_File;
    uint32_t m_dwFileLength = 0;
    uintptr_t m_nTimerID = 0;
    std::string m_strFilePath;

private:
    bool TakeSnapshot();
    void EndDownload(DownloadEnd eEnd, const std::string& strLine);
    // Whether the file still holds the snapshot. Unless bWhole, only a changed stamp makes it
    // read the file again.
    bool ImageIntact(bool bWhole);

    CDownloadHost& m_host;
    std::shared_ptr<const std::vector<unsigned char>> m_pImage; // the image as it was at DOWN
    SImageStamp m_stamp; // of the file when it last matched m_pImage
    uint32_t m_nOffset = 0; // bytes of m_pImage the port has taken
    bool m_bDownloading = false;
    uint64_t m_nFirstPollTx = 0; // write number of this download's first poll; 0: none yet
    uint64_t m_nLastPollTx = 0;
    bool m_bPollFresh = false; // the last poll went out and nothing has come since
    uint64_t m_nFrameTx = 0; // write number of the frame awaiting its answer; 0: none
    uint64_t m_nOutTx = 0; // every write up to this number is out, in this port session
    uint64_t m_nOtherBytes = 0;
};
