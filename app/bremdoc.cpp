#include "bremdoc.h"

#include "bremview.h"
#include "durablesave.h"
#include "prompts.h"
#include "recentfilelist.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>

#include <algorithm>

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
    m_pView->ClearLog();
    m_strPathName.clear();
    return true;
}

bool CBremDoc::OnOpenDocument(const QString& strPath, QString& strError)
{
    // Opening a FIFO or a device would wait for a writer or read for ever.
    const QFileInfo info(strPath);
    if (info.exists() && !info.isFile()) {
        strError = QStringLiteral("Cannot open %1: it is not a regular file.").arg(strPath);
        return false;
    }
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly)) {
        strError = QStringLiteral("Cannot open %1: %2.").arg(strPath, file.errorString());
        return false;
    }
    const qint64 nSize = file.size();
    if (nSize > CBremView::g_nMaxLogBytes) {
        strError
            = QStringLiteral("Cannot open %1: the file holds %2 MB, and a log holds at most "
                             "%3 MB (what Brem can keep in memory at about one byte per byte).")
                  .arg(strPath)
                  .arg(nSize >> 20)
                  .arg(CBremView::g_nMaxLogBytes >> 20);
        return false;
    }
    QProgressDialog progress(QStringLiteral("Loading %1...").arg(info.fileName()),
        QStringLiteral("Cancel"), 0, 1000, m_pView->window());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    progress.setAutoClose(false);
    progress.setValue(0);
    bool bCancelled = false;
    CLogStore store;
    // Found by the view's rule as it is read, so the swap below need not look again.
    store.SetLineEnds(m_pView->LineEnds());
    const bool bRead = store.ReadFrom(file, nSize, [&](int64_t nDone) {
        if ((nDone & ((int64_t(16) << 20) - 1)) == 0 && nSize > 0)
            progress.setValue(int(nDone * 1000 / nSize));
        bCancelled = progress.wasCanceled();
        return !bCancelled;
    });
    if (!bRead) {
        strError = bCancelled ? QString()
                              : QStringLiteral("Cannot read %1: %2.")
                                    .arg(strPath,
                                        file.error() != QFileDevice::NoError
                                            ? file.errorString()
                                            : QStringLiteral("the file changed while it was read"));
        return false;
    }
    m_pView->Store().Swap(store);
    m_pView->StoreReplaced();
    m_strPathName = strPath;
    if (m_pRecent)
        m_pRecent->Add(strPath);
    return true;
}

bool CBremDoc::OnSaveDocument(const QString& strPath, QString& strError)
{
    const CLogStore& store = m_pView->Store();
    const auto fnWrite
        = [&store](QIODevice& file, const CDurableSave::FProgress& fnProgress, QString& strWhy) {
              // What the log held when the save began; bytes that arrive meanwhile are not in it.
              const int64_t nSize = store.Size();
              const uint64_t nRevision = store.Revision();
              const bool bWritten = store.WriteTo(file, 0, nSize,
                  [&](int64_t nDone) { return fnProgress(double(nDone) / double(nSize)); });
              if (store.Revision() != nRevision)
                  strWhy = QStringLiteral("the log changed while it was saved");
              return bWritten;
          };
    if (!CDurableSave::Save(m_pView->window(), strPath, fnWrite, strError))
        return false;
    m_strPathName = strPath;
    if (m_pRecent)
        m_pRecent->Add(strPath);
    return true;
}

bool CBremDoc::SaveWithTimestamps(const QString& strPath, QString& strError)
{
    const CLogStore& store = m_pView->Store();
    const auto fnWrite
        = [&store](QIODevice& file, const CDurableSave::FProgress& fnProgress, QString& strWhy) {
              const QByteArray baNoTime(int(sizeof "2000-01-01 00:00:00.000  ") - 1, ' ');
              const uint64_t nRevision = store.Revision();
              const int64_t nSize = store.Size();
              const int64_t nLines = store.LineCount();
              QByteArray baOut;
              int64_t nSecond = -1;
              QByteArray baSecond;
              for (int64_t nLine = 0; nLine < nLines; ++nLine) {
                  const int64_t nFrom = store.LineStart(nLine);
                  const int64_t nTo = std::min(store.LineStart(nLine + 1), nSize);
                  if (nFrom >= nTo && nLine + 1 >= nLines)
                      break; // the empty line after a final break
                  const int64_t nTime = store.LineTime(nLine);
                  if (nTime == CLogStore::g_nNoTime) {
                      baOut += baNoTime;
                  } else {
                      // Formatting a date is slow; lines of the same second share it.
                      if (nTime / 1000 != nSecond) {
                          nSecond = nTime / 1000;
                          baSecond = QDateTime::fromMSecsSinceEpoch(nSecond * 1000)
                                         .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                         .toLatin1();
                      }
                      baOut += baSecond;
                      baOut += '.';
                      baOut += QByteArray::number(nTime % 1000).rightJustified(3, '0');
                      baOut += "  ";
                  }
                  baOut += store.Bytes(nFrom, nTo);
                  if (baOut.size() > (16 << 20)) {
                      if (file.write(baOut) != baOut.size())
                          return false;
                      baOut.clear();
                      // The log may change while the progress lets the window go on.
                      const bool bGoOn = fnProgress(double(nTo) / double(nSize));
                      if (store.Revision() != nRevision) {
                          strWhy = QStringLiteral("the log changed while it was saved");
                          return false;
                      }
                      if (!bGoOn)
                          return false;
                  }
                  if (nTo >= nSize)
                      break; // lines that came during the save
              }
              return file.write(baOut) == baOut.size();
          };
    return CDurableSave::Save(m_pView->window(), strPath, fnWrite, strError);
}

void CBremDoc::OnFileOpen(QWidget* pParent)
{
    const QString strPath
        = CPrompts::Instance().OpenFileName(pParent, QStringLiteral("All Files (*)"));
    QString strError;
    if (!strPath.isEmpty() && !OnOpenDocument(strPath, strError) && !strError.isEmpty())
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

void CBremDoc::OnFileSaveWithTimestamps(QWidget* pParent)
{
    const QString strPath = CPrompts::Instance().SaveFileName(pParent);
    QString strError;
    if (!strPath.isEmpty() && !SaveWithTimestamps(strPath, strError))
        ErrorBox(pParent, strError);
}
