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
    // The file's bytes replace the log; on failure the log is left as it was.
    bool OnOpenDocument(const QString& strPath, QString& strError);
    bool OnSaveDocument(const QString& strPath, QString& strError);

    // The commands behind Ctrl+O and Ctrl+S, with their dialogs and boxes on pParent.
    void OnFileOpen(QWidget* pParent);
    void OnFileSave(QWidget* pParent);

    // Larger files would not fit a log view sensibly; they are refused rather than half-read.
    static constexpr qint64 MAX_LOAD_BYTES = 64 * 1024 * 1024;

    QString m_strPathName;

private:
    CBremView* m_pView;
    CRecentFileList* m_pRecent;
};
