#include "bremdoc.h"

#include "bremview.h"
#include "prompts.h"
#include "recentfilelist.h"

#include <QFile>
#include <QSaveFile>

namespace {

void ErrorBox(QWidget* pParent, const QString& strText)
{
    CPrompts::Instance().MessageBox(pParent, QStringLiteral("Brem"), strText, false);
}

} // namespace

CBremDoc::CBremDoc(CBremView* pView, CRecentFileList* pRecent)
    : m_pView(pView)
    , m_pRecent(pRecent)
{ }

bool CBremDoc::OnNewDocument()
{
    m_pView->SetLogBytes(QByteArray());
    m_strPathName.clear();
    return true;
}

bool CBremDoc::OnOpenDocument(const QString& strPath, QString& strError)
{
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        strError = QStringLiteral("Cannot open %1: %2.").arg(strPath, file.errorString());
        return false;
    }
    if (file.size() > MAX_LOAD_BYTES) {
        strError = QStringLiteral("Cannot open %1: the file is larger than %2 MB.")
                       .arg(strPath)
                       .arg(MAX_LOAD_BYTES / (1024 * 1024));
        return false;
    }
    // Read with a bound, so a file that grows (or a device file) cannot run away with memory.
    const QByteArray baBytes = file.read(MAX_LOAD_BYTES + 1);
    if (file.error() != QFileDevice::NoError || baBytes.size() > MAX_LOAD_BYTES) {
        strError = QStringLiteral("Cannot read %1: %2.")
                       .arg(strPath,
                           baBytes.size() > MAX_LOAD_BYTES ? QStringLiteral("the file is too large")
                                                           : file.errorString());
        return false;
    }
    m_pView->SetLogBytes(baBytes);
    m_strPathName = strPath;
    if (m_pRecent)
        m_pRecent->Add(strPath);
    return true;
}

bool CBremDoc::OnSaveDocument(const QString& strPath, QString& strError)
{
    QSaveFile file(strPath);
    if (!file.open(QIODevice::WriteOnly)) {
        strError = QStringLiteral("Cannot save %1: %2.").arg(strPath, file.errorString());
        return false;
    }
    const QByteArray baBytes = m_pView->LogBytes();
    if (file.write(baBytes) != baBytes.size() || !file.commit()) {
        strError = QStringLiteral("Cannot save %1: %2.").arg(strPath, file.errorString());
        return false;
    }
    m_strPathName = strPath;
    if (m_pRecent)
        m_pRecent->Add(strPath);
    return true;
}

void CBremDoc::OnFileOpen(QWidget* pParent)
{
    const QString strPath
        = CPrompts::Instance().OpenFileName(pParent, QStringLiteral("All Files (*)"));
    QString strError;
    if (!strPath.isEmpty() && !OnOpenDocument(strPath, strError))
        ErrorBox(pParent, strError);
}

void CBremDoc::OnFileSave(QWidget* pParent)
{
    QString strPath = m_strPathName;
    if (strPath.isEmpty())
        strPath = CPrompts::Instance().SaveFileName(pParent);
    QString strError;
    if (!strPath.isEmpty() && !OnSaveDocument(strPath, strError))
        ErrorBox(pParent, strError);
}
