#pragma once

#include "prompts.h"

class CMainFrame;

// Plays the operator for screenshots and demonstrations: picks the port and rate, then presses
// Open (typing some text after it, if asked), Load (answering its dialog with the image) and DOWN,
// one step per pace, and stops after the step asked for. Boxes go to stderr instead of waiting.
class CDemoDriver : public CPrompts {
public:
    enum Step { STEP_NONE, STEP_OPEN, STEP_LOAD, STEP_DOWN };
    struct SOptions {
        QString strPort = QStringLiteral("COM1");
        QString strBaud = QStringLiteral("115200");
        QString strImage;
        QString strType;
        Step nStopAfter = STEP_DOWN;
        int nPaceMs = 300;
    };

    explicit CDemoDriver(const SOptions& options);
    ~CDemoDriver() override;

    // False, and nothing pressed, when the port or the rate is not an item of its list.
    bool Start(CMainFrame* pFrame);

    void MessageBox(
        QWidget* pParent, const QString& strCaption, const QString& strText, bool bError) override;
    QString OpenFileName(QWidget* pParent, const QString& strFilter) override;
    QString SaveFileName(QWidget* pParent) override;

private:
    void NextStep();

    SOptions m_options;
    CMainFrame* m_pFrame = nullptr;
    int m_nDone = STEP_NONE;
};
