#pragma once

#include <QString>

class QWidget;

// Every modal box and file dialog of the window goes through here, so that tests can answer
// them without a person: install a recording CPrompts with SetInstance.
class CPrompts {
public:
    virtual ~CPrompts() = default;

    // Modal box with an OK button; returns when dismissed.
    virtual void MessageBox(
        QWidget* pParent, const QString& strCaption, const QString& strText, bool bError)
        = 0;
    // The same box with a second text under the first: why, and what to do. Prompts that have
    // no place for it show the first text alone.
    virtual void MessageBoxWithDetail(QWidget* pParent, const QString& strCaption,
        const QString& strText, const QString& strDetail, bool bError)
    {
        (void)strDetail;
        MessageBox(pParent, strCaption, strText, bError);
    }
    // Modal open dialog; strFilter in Qt's "Name (*.ext);;All (*)" form. Empty when cancelled.
    virtual QString OpenFileName(QWidget* pParent, const QString& strFilter) = 0;
    // Modal save dialog. Empty when cancelled.
    virtual QString SaveFileName(QWidget* pParent) = 0;
    // The same for a file that is appended to, not replaced: no question about overwriting.
    virtual QString CaptureFileName(QWidget* pParent) { return SaveFileName(pParent); }

    static CPrompts& Instance();
    // Null restores the real dialogs.
    static void SetInstance(CPrompts* pPrompts);
};
