#pragma once

#include <QString>

class CBremView;
class CRecentFileList;
class QWidget;

// The document is the log itself: New empties it, Open and Save move its bytes raw.
class CBremDoc {
public:
    CBremDoc(CBremView* pView, CRecentFileList* pRecent);

    bool OnNewDocument();
    // The file's bytes replace the log; on failure (or when the operator gives up a long load)
    // the log is left as it was. A load that takes over a second shows its progress.
    bool OnOpenDocument(const QString& strPath, QString& strError);
    bool OnSaveDocument(const QString& strPath, QString& strError);
    // A text file: each line of the log after the time it arrived, blanks for lines with none.
    bool SaveWithTimestamps(const QString& strPath, QString& strError);

    // The commands behind Ctrl+O, Ctrl+S and "Save with Timestamps...", with their dialogs and
    // boxes on pParent.
    void OnFileOpen(QWidget* pParent);
    void OnFileSave(QWidget* pParent);
    void OnFileSaveWithTimestamps(QWidget* pParent);

    QString m_strPathName;

private:
    CBremView* m_pView;
    CRecentFileList* m_pRecent;
};
