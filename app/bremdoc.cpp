#include "bremdoc.h"

#include "bremview.h"
#include "prompts.h"
#include "recentfilelist.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTemporaryFile>

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
// Ours is CPrompts::MessageBox.
#undef MessageBox
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

void ErrorBox(QWidget* pParent, const QString& strText)
{
    CPrompts::Instance().MessageBox(pParent, QStringLiteral("Brem"), strText, false);
}

#ifdef _WIN32
// Windows keeps no mode bits worth copying, and its rename does not replace.
bool TakeMode(int /*hFile*/, const QString& /*strTarget*/)
{
    return true;
}

bool ReplaceWith(const QString& strNew, const QString& strTarget)
{
    if (::MoveFileExW(reinterpret_cast<const wchar_t*>(strNew.utf16()),
            reinterpret_cast<const wchar_t*>(strTarget.utf16()), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = EACCES;
    return false;
}
#else
// The new file gets the old one's permissions, or those of any new file.
bool TakeMode(int hFile, const QString& strTarget)
{
    struct stat st { };
    mode_t nMode = 0;
    if (::stat(QFile::encodeName(strTarget).constData(), &st) == 0) {
        nMode = st.st_mode & 07777;
    } else {
        nMode = umask(0);
        umask(nMode);
        nMode = 0666 & ~nMode;
    }
    return fchmod(hFile, nMode) == 0;
}

bool ReplaceWith(const QString& strNew, const QString& strTarget)
{
    return ::rename(QFile::encodeName(strNew).constData(), QFile::encodeName(strTarget).constData())
        == 0;
}
#endif

// Writes a new file beside the old one and renames it over, so that a failed save leaves the
// old file whole. Unlike QSaveFile it does not wait for the disk: a gigabyte of log is saved as
// fast as the system takes it, and written out in the background as any other file is.
bool WriteReplacing(
    const QString& strPath, const std::function<bool(QIODevice&)>& fnWrite, QString& strError)
{
    const QFileInfo info(strPath);
    const QString strTarget = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    QTemporaryFile file(strTarget + QStringLiteral(".XXXXXX"));
    bool bOk = file.open() && TakeMode(file.handle(), strTarget);
    bOk = bOk && fnWrite(file) && file.flush();
    if (!bOk || !ReplaceWith(file.fileName(), strTarget)) {
        strError = QStringLiteral("Cannot save %1: %2.")
                       .arg(strPath,
                           file.error() != QFileDevice::NoError
                               ? file.errorString()
                               : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file.setAutoRemove(false);
    return true;
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
    if (!WriteReplacing(
            strPath, [&store](QIODevice& file) { return store.WriteTo(file); }, strError))
        return false;
    m_strPathName = strPath;
    if (m_pRecent)
        m_pRecent->Add(strPath);
    return true;
}

bool CBremDoc::SaveWithTimestamps(const QString& strPath, QString& strError)
{
    const CLogStore& store = m_pView->Store();
    return WriteReplacing(
        strPath,
        [&store](QIODevice& file) {
            const QByteArray baNoTime(int(sizeof "2000-01-01 00:00:00.000  ") - 1, ' ');
            QByteArray baOut;
            int64_t nSecond = -1;
            QByteArray baSecond;
            for (int64_t nLine = 0; nLine < store.LineCount(); ++nLine) {
                const int64_t nFrom = store.LineStart(nLine);
                const int64_t nTo = store.LineStart(nLine + 1);
                if (nFrom == nTo && nLine + 1 == store.LineCount())
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
                if (baOut.size() > (1 << 20)) {
                    if (file.write(baOut) != baOut.size())
                        return false;
                    baOut.clear();
                }
            }
            return file.write(baOut) == baOut.size();
        },
        strError);
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
