#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the Qt thread, so that a window being told to
// go can close its port (settings restored, exclusive use released) instead of dying with it
// held. One at a time: the handlers found are put back when it goes.
class CQuitSignals : public QObject {
    Q_OBJECT
public:
    explicit CQuitSignals(std::function<void(int)> fnQuit, QObject* pParent = nullptr);
    ~CQuitSignals() override;

private:
    void OnReadable();

    std::function<void(int)> m_fnQuit;
    int m_ahPipe[2] = { -1, -1 };
    QSocketNotifier* m_pNotifier = nullptr;
};
