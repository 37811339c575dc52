#pragma once

#include "logsearch.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class CBremView;
class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;

// Find in the log: a bar under it with the text (or hex bytes) to find, a case choice, Previous
// and Next, and a line that says what came of it, so that "not found" never takes the keyboard
// away. F3 and Shift+F3 find the next and the previous match (Ctrl+F stays the byte 0x06 for the
// device). A search runs on this thread a few milliseconds at a time, so that the window and
// received bytes go on meanwhile; after half a second it shows its progress and can be stopped.
class CFindBar : public QWidget {
    Q_OBJECT
public:
    explicit CFindBar(CBremView* pView, QWidget* pParent = nullptr);

    // Edit > Find..., Find Next, Find Previous, as a menu of the bar, placed before pBefore.
    void AddMenu(QMenuBar* pMenuBar, QAction* pBefore);

    // Shows the bar with its text selected for typing.
    void Open();
    // Searches for the bar's text from the selection; opens the bar first if it has none.
    void FindNext() { Find(true); }
    void FindPrevious() { Find(false); }
    bool IsSearching() const { return m_search.State() == CLogSearch::EState::Running; }
    void Stop();

    QLineEdit* m_pText;
    QCheckBox* m_pHex;
    QCheckBox* m_pMatchCase;
    QPushButton* m_pPrevious;
    QPushButton* m_pNext;
    QLabel* m_pStatus;
    QProgressBar* m_pProgress;
    QPushButton* m_pStop;
    QPushButton* m_pClose;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void Find(bool bForward);
    void RunSlices();
    void Finish(CLogSearch::EState eState);
    void Say(const QString& strText);
    void Close();

    CBremView* m_pView;
    CLogSearch m_search;
    bool m_bForward = true;
    QString m_strSearched; // what the running search looks for, as typed, with its choices
    int64_t m_nSliceBytes = 0;
    QTimer m_timerSlice;
    QElapsedTimer m_elapsed;
};
