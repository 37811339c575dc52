#pragma once

#include "downloadhost.h"
#include "imagefile.h"

#include <cstdint>
#include <string>

enum DownloadState : int {
    STATE_TERMINAL = 0, // no download: received bytes go to the log
    STATE_POLLING = 1, // a poll 'P' went out; waiting for the device's first reply
    STATE_IDENT = 2, // collecting the 48-byte identification
    STATE_SENDING = 3, // frames in flight; each reply acknowledges or refuses the last one
};

constexpr uintptr_t BREM_POLL_TIMER_ID = 5;
constexpr unsigned BREM_POLL_PERIOD_MS = 500;
constexpr uint32_t BREM_FRAME_DATA_MAX = 4096;
constexpr uint32_t BREM_IDENT_LENGTH = 48;

// One per process, shared by every engine, as the handlers have always kept them.
extern int g_nCounter;
extern char g_szText[100];

// The download state machine and the Load/DOWN commands, free of any GUI.
class CDownloadEngine {
public:
    explicit CDownloadEngine(CDownloadHost& host);

    void OnLoad();
    void OnDown();
    void OnTimer(uintptr_t nIDEvent);
    // A received byte (low 8 bits of wParam); lParam is the port number. Returns 0.
    long OnComm(uintptr_t wParam, intptr_t lParam);
    void SendNextFrame(bool bFirst);

    // F = (length + 4095) / 4096, without the 32-bit wrap near 4 GiB.
    uint32_t FrameCount() const;

    DownloadState m_nState = STATE_TERMINAL;
    CImageFile m_File;
    uint32_t m_dwFileLength = 0;
    uintptr_t m_nTimerID = 0;
    std::string m_strFilePath;

private:
    CDownloadHost& m_host;
};
