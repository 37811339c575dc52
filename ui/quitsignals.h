#pragma once

#include <QObject>

#include <functional>
#include <memory>

// Turns the system telling the program to go into calls on the Qt thread, so that a window can
// close its port (settings restored, exclusive use released) instead of dying with it held:
// fnRelease gives the port back and may run inside the system's own message (Windows may end the
// process once a window has answered it); fnQuit then closes the window and ends the program.
// POSIX: SIGTERM, SIGINT and SIGHUP. Windows: Ctrl+C and Ctrl+Break (as SIGINT), a closing
// console, log-off and shut-down (as SIGTERM). One at a time: what was there before is put back
// when it goes.
class CQuitSignals : public QObject {
    Q_OBJECT
public:
    CQuitSignals(std::function<void()> fnRelease, std::function<void(int)> fnQuit,
        QObject* pParent = nullptr);
    ~CQuitSignals() override;

private:
    struct SImpl;
    std::unique_ptr<SImpl> m_pImpl;
};
