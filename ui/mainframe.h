#pragma once

#include "bremviewhost.h"
#include "download/downloadengine.h"
#include "download/downloadhost.h"
#include "portlist.h"
#include "portsettings.h"
#include "serial/serialport.h"

#include <QMainWindow>
#include <QTimer>

class CBremView;
class CCaptureControl;
class CControlBar;
class CFindBar;
class CLineStates;
class QMenuBar;
class CStatusBar;

// Set and cleared by OnOpenClose alone, together with m_bPortOpen; chooses Open or Close.
extern int g_bPortOpened;

// The one top-level window: the hub between the operator's controls, the serial port, the
// download engine and the log view. Received bytes reach OnComm on this thread, one at a time.
class CMainFrame : public QMainWindow,
                   public CDownloadHost,
                   public CSerialPortOwner,
                   public CErrorReporter,
                   public CBremViewHost {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* pParent = nullptr);
    ~CMainFrame() override;

    void OnLoad() { m_engine.OnLoad(); }
    void OnDown() { m_engine.OnDown(); }
    void OnOpenClose();
    void OnClear();
    void OnTimer(uintptr_t nIDEvent) { m_engine.OnTimer(nIDEvent); }
    long OnComm(uintptr_t wParam, intptr_t lParam) { return m_engine.OnComm(wParam, lParam); }

    // The Port menu: settings, and the lines of the open port.
    void CreatePortMenu(QMenuBar* pMenuBar);
    void OnPortSettings();
    // What the settings dialog's OK does.
    void ApplyPortSettings(const SPortSettings& settings);
    void OnToggleDtr();
    void OnToggleRts();
    // Holds the line in break for nMs, without holding up the window.
    void OnSendBreak(unsigned nMs);
    void OnSendBreakOfLength();
    const SPortSettings& PortSettings() const { return m_portSettings; }

    CBremView* GetActiveView() const { return m_pView; }
    // Where the port list finds devices; tests and the screenshot helper bring their own.
    void SetPortRoots(const CPortRoots& roots) { m_pPortList->SetRoots(roots); }

    // CDownloadHost, and CBremViewHost for the two calls they share.
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override;
    void AppendLine(const std::string& strText) override;
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount) override;
    void SetProgressRange(uint32_t nLower, uint32_t nUpper) override;
    void SetProgressPos(uint32_t nPos) override;
    uintptr_t SetTimer(uintptr_t nIDEvent, unsigned nElapseMs) override;
    void KillTimer(uintptr_t nIDEvent) override;
    void MessageBox(const std::string& strText) override;
    bool RunOpenFileDialog(const std::string& strFilter, std::string& strPath) override;
    void SetFilePathText(const std::string& strPath) override;
    int PortOpenFlag() const override { return m_bPortOpen; }

    // CSerialPortOwner
    void PostToOwner(std::function<void()> fn) override;
    void OnPortNotification(unsigned nMessage, uintptr_t wParam, intptr_t lParam) override;

    // CErrorReporter
    void ShowError(const std::string& strCaption, const std::string& strText) override;

    // CBremViewHost
    void ViewMessageBox(const QString& strText) override;

    CDownloadEngine m_engine;
    CSerialPort m_Port;
    int m_bPortOpen = 0;
    CStatusBar* m_pStatusBar = nullptr;
    CControlBar* m_pDlgBar = nullptr;
    CBremView* m_pView = nullptr;
    CPortList* m_pPortList = nullptr;
    CFindBar* m_pFindBar = nullptr;
    CCaptureControl* m_pCapture = nullptr;

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    int OnCreate();
    void ClosePort();
    void PortOpened(const SPortChoice& choice, unsigned nBaud);
    // After the port list changed or an error box: marks the open device unplugged, or reopens
    // it once it is back.
    void CheckReplug();
    void SetPortNote(const std::string& strNote);

    // What Open opened, so that it can be opened again with the same settings after an unplug.
    struct SOpenedPort {
        std::string strKey; // "" when the device is not one that discovery knows
        std::string strName; // "ttyUSB0"
        unsigned nPortNr = 0;
        unsigned nBaud = 0;
        bool bUnplugged = false;
        bool bSeenGone = false; // left the list since the last reopen
        bool bReopenedInPlace = false; // last reopen came without it leaving the list
    } m_opened;
    int m_nErrorBoxes = 0;

    QTimer m_timer;
    uintptr_t m_nTimerEvent = 0;
    int m_nProgressPos = 0;
    QTimer m_progressTimer;

    // The rate in the list's edit field when it is a number but no item (a typed rate), else
    // the selected item's.
    int ChosenRate() const;
    // After an open: the port runs as chosen, or it is closed again with a box that says why.
    bool CheckLineApplied(const std::string& strName, unsigned nBaud);
    void ShowLineStates();
    void SetUpPortLines();
    void ToggleLine(uint32_t dwFunc);
    SPortSettings m_portSettings;
    CLineStates* m_pLineStates = nullptr;
    QTimer m_lineTimer; // the input lines have no event on every platform: looked at often
    QTimer m_breakTimer;
    unsigned m_nBreakMs = 250;
};
