#include "durablesave.h"

#include "fileops.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

// A save's progress dialog appears after this long, as a load's does.
constexpr int g_nShowAfterMs = 1000;

bool g_bSaving = false;

} // namespace

bool CDurableSave::Save(
    QWidget* pParent, const QString& strPath, const FWrite& fnWrite, QString& strError)
{
    if (g_bSaving) {
        strError
            = QStringLiteral("Cannot save %1: another save is still being written to the disk.")
                  .arg(strPath);
        return false;
    }
    g_bSaving = true;
    struct SGuard {
        ~SGuard() { g_bSaving = false; }
    } guard;

    const QFileInfo info(strPath);
    const QString strTarget = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    QTemporaryFile file(strTarget + QStringLiteral(".XXXXXX"));
    // The new file gets the old one's permissions, or those of any new file. (Windows keeps
    // no mode bits worth copying.)
#ifndef _WIN32
    struct stat st { };
    mode_t nMode = 0;
    if (::stat(QFile::encodeName(strTarget).constData(), &st) == 0) {
        nMode = st.st_mode & 07777;
    } else {
        nMode = umask(0);
        umask(nMode);
        nMode = 0666 & ~nMode;
    }
    const auto takeMode = [&] { return fchmod(file.handle(), nMode) == 0; };
#else
    const auto takeMode = [] { return true; };
#endif
    const auto fail = [&](const QString& strWhy) {
        strError = QStringLiteral("Cannot save %1: %2.").arg(strPath, strWhy);
        return false;
    };
    if (!file.open() || !takeMode())
        return fail(file.error() != QFileDevice::NoError
                ? file.errorString()
                : QString::fromLocal8Bit(std::strerror(errno)));

    QProgressDialog progress(QStringLiteral("Saving %1...").arg(info.fileName()),
        QStringLiteral("Cancel"), 0, 1000, pParent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(g_nShowAfterMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    QString strWhy;
    const bool bWritten = fnWrite(
                              file,
                              [&progress](double dDone) {
                                  progress.setValue(int(dDone * 1000));
                                  return !progress.wasCanceled();
                              },
                              strWhy)
        && file.flush();
    if (!bWritten) {
        if (progress.wasCanceled())
            return false;
        if (strWhy.isEmpty())
            strWhy = file.errorString();
        return fail(strWhy);
    }

    // The flush: the thread's result comes back through the loop, which keeps the window going.
    progress.setLabelText(QStringLiteral("Writing %1 to the disk...").arg(info.fileName()));
    progress.setCancelButton(nullptr);
    progress.setRange(0, 0);
    QEventLoop loop;
    std::string strCommitError;
    bool bCommitted = false;
    std::thread thread([&] {
        bCommitted = ReplaceDurably(file.handle(), QFile::encodeName(file.fileName()).toStdString(),
            QFile::encodeName(strTarget).toStdString(), strCommitError);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer::singleShot(g_nShowAfterMs, &progress, [&progress] { progress.show(); });
    loop.exec();
    thread.join();
    // Renamed, even if its folder could not be flushed: the file is no longer the temporary one.
    if (!QFile::exists(file.fileName()))
        file.setAutoRemove(false);
    if (!bCommitted)
        return fail(QString::fromLocal8Bit(strCommitError.c_str()));
    return true;
}
