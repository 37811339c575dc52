#pragma once

#include "prompts.h"

class CMainFrame;

// For screenshots and demonstrations: presses Open, Load (answering its dialog with strImage)
// and DOWN by itself once the window shows. Boxes go to stderr instead of waiting for a person.
class CDemoDriver : public CPrompts {
public:
    CDemoDriver(CMainFrame* pFrame, const QString& strImage);
    ~CDemoDriver() override;

    void Start();

    void MessageBox(
        QWidget* pParent, const QString& strCaption, const QString& strText, bool bError) override;
    QString OpenFileName(QWidget* pParent, const QString& strFilter) override;
    QString SaveFileName(QWidget* pParent) override;

private:
    CMainFrame* m_pFrame;
    QString m_strImage;
};
