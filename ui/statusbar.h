#pragma once

#include "keylocks.h"

#include <QStatusBar>
#include <QTimer>

class QLabel;

// Message pane ("就绪" when idle, a command's prompt while one is pointed at) and the three lock
// indicators. Prompts arrive as the status tips Qt sends to the main window.
class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* pParent = nullptr);

    // Reads the lock keys again; cheap enough for a key event or a slow timer, not per byte.
    void PollLocks();
    void ShowLocks(const CKeyLocks& locks);

    QLabel* m_pIdle;
    // News of the open port (an unplug, a reopen); prompts do not cover it.
    QLabel* m_pPortNote;
    QLabel* m_pCaps;
    QLabel* m_pNum;
    QLabel* m_pScroll;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QTimer m_timerLocks;
};
