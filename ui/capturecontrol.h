#pragma once

#include "wirecapture.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>

class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QWidget;

// File > Capture to File... and Capture with Timestamps...: the wire goes to a file while the
// window runs, the file's name and size show in the status bar, and a disk that fails, fills up
// or does not keep up stops the capture with one box (the log keeps everything regardless).
//
// A byte sent is put where it crossed: the port reports each write once it has gone out, and
// every byte received before that report came in before the write had gone out. Writes the port
// refused, or that it cannot say went out (it closed first), are not in the capture.
class CCaptureControl : public QObject {
    Q_OBJECT
public:
    CCaptureControl(QWidget* pWindow, QStatusBar* pStatusBar);
    // Ends a running capture and waits for its file while the disk gets on with it.
    ~CCaptureControl() override;

    // The two items, then a separator, placed before pBefore.
    void AddMenuItems(QMenu* pFile, QAction* pBefore);

    // A box says why when it cannot start.
    bool Start(const QString& strPath, CWireCapture::EFormat eFormat);
    void Stop();
    bool IsOn() const { return m_capture.IsOn(); }
    // Waits until the last capture's file is written, flushed and closed; false if the disk
    // did nothing for nIdleMs.
    bool WaitForFile(int nIdleMs) { return m_capture.WaitWriter(nIdleMs); }

    // The port's traffic, as the window sees it: a byte received; the bytes of WriteToPort and
    // the number it gave them (0: refused); the port's reports that writes went out or failed.
    void Received(unsigned char nByte) { m_capture.Received(nByte); }
    void Queued(uint64_t nWriteNr, const unsigned char* pBytes, uint32_t nCount);
    void WentOut(uint64_t nWriteNr);
    void WriteFailed(uint64_t nWriteNr);

    QAction* m_pRawItem = nullptr;
    QAction* m_pTimedItem = nullptr;
    QLabel* m_pStatus;

private:
    void Choose(CWireCapture::EFormat eFormat);
    // A few times a second: hands what came to the writer, shows the size, tells a failure.
    void Tick();
    void ShowState();

    struct SPending {
        uint64_t m_nWriteNr;
        QByteArray m_baBytes;
    };

    QWidget* m_pWindow;
    QStatusBar* m_pStatusBar;
    CWireCapture m_capture;
    std::deque<SPending> m_dequePending;
    QTimer m_timer;
};
