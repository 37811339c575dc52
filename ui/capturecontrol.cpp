#include "capturecontrol.h"

#include "prompts.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QStatusBar>

namespace {

// How often gathered bytes go to the writer and the status bar shows the size: the file is never
// more than this (and the disk's flush, once a second) behind the wire.
constexpr int g_nTickMs = 250;

} // namespace

CCaptureControl::CCaptureControl(QWidget* pWindow, QStatusBar* pStatusBar)
    : QObject(pWindow)
    , m_pWindow(pWindow)
    , m_pStatusBar(pStatusBar)
{
    m_pStatus = new QLabel(pStatusBar);
    m_pStatus->setObjectName(QStringLiteral("captureNote"));
    pStatusBar->addPermanentWidget(m_pStatus);
    m_pStatus->hide();
    m_timer.setInterval(g_nTickMs);
    connect(&m_timer, &QTimer::timeout, this, &CCaptureControl::Tick);
}

CCaptureControl::~CCaptureControl()
{
    m_capture.Stop();
    m_capture.WaitWriter(5000);
}

void CCaptureControl::AddMenuItems(QMenu* pFile, QAction* pBefore)
{
    pFile->insertSeparator(pBefore);
    m_pRawItem = new QAction(QStringLiteral("Capture to File...(&C)"), pFile);
    m_pRawItem->setStatusTip(QStringLiteral(
        "Write every byte received and sent to a file as it crosses the port (appends)"));
    m_pTimedItem = new QAction(QStringLiteral("Capture with Timestamps...(&W)"), pFile);
    m_pTimedItem->setStatusTip(QStringLiteral(
        "Write the wire to a text file as it crosses the port: a line per burst with its time, "
        "RX or TX and its bytes"));
    pFile->insertAction(pBefore, m_pRawItem);
    pFile->insertAction(pBefore, m_pTimedItem);
    connect(m_pRawItem, &QAction::triggered, this, [this] {
        if (IsOn())
            Stop();
        else
            Choose(CWireCapture::EFormat::Raw);
    });
    connect(
        m_pTimedItem, &QAction::triggered, this, [this] { Choose(CWireCapture::EFormat::Timed); });
}

void CCaptureControl::Choose(CWireCapture::EFormat eFormat)
{
    const QString strPath = CPrompts::Instance().CaptureFileName(m_pWindow);
    if (!strPath.isEmpty())
        Start(strPath, eFormat);
}

bool CCaptureControl::Start(const QString& strPath, CWireCapture::EFormat eFormat)
{
    std::string strError;
    if (!m_capture.Start(QFile::encodeName(strPath).toStdString(), eFormat, strError)) {
        CPrompts::Instance().MessageBox(m_pWindow, QStringLiteral("Brem"),
            QStringLiteral("Cannot capture to %1: %2.")
                .arg(strPath, QString::fromLocal8Bit(strError.c_str())),
            true);
        return false;
    }
    m_dequePending.clear();
    m_pStatus->setToolTip(strPath);
    m_timer.start();
    ShowState();
    return true;
}

void CCaptureControl::Stop()
{
    if (!IsOn())
        return;
    m_capture.Stop();
    m_dequePending.clear();
    m_timer.stop();
    m_pStatusBar->showMessage(
        QStringLiteral("Capture to %1 ended").arg(QFileInfo(m_pStatus->toolTip()).fileName()),
        10000);
    ShowState();
}

void CCaptureControl::ShowState()
{
    const bool bOn = IsOn();
    m_pStatus->setVisible(bOn);
    if (m_pRawItem) {
        m_pRawItem->setText(
            bOn ? QStringLiteral("Stop Capture(&C)") : QStringLiteral("Capture to File...(&C)"));
        m_pTimedItem->setEnabled(!bOn);
    }
    if (!bOn)
        return;
    const QString strText = QStringLiteral("Capturing to %1: %2")
                                .arg(QFileInfo(m_pStatus->toolTip()).fileName(),
                                    QLocale().formattedDataSize(qint64(m_capture.FileSize()), 1,
                                        QLocale::DataSizeTraditionalFormat));
    if (m_pStatus->text() != strText) {
        m_pStatus->setText(strText);
        m_pStatus->setAccessibleName(strText);
    }
}

void CCaptureControl::Tick()
{
    m_capture.Flush();
    const std::string strFailure = m_capture.TakeFailure();
    if (!strFailure.empty()) {
        m_timer.stop();
        m_dequePending.clear();
        ShowState();
        CPrompts::Instance().MessageBox(m_pWindow, QStringLiteral("Brem"),
            QStringLiteral("Capture to %1 stopped: %2. The file keeps what was written before; "
                           "the log still holds everything.")
                .arg(m_pStatus->toolTip(), QString::fromLocal8Bit(strFailure.c_str())),
            true);
        return;
    }
    ShowState();
}

void CCaptureControl::Queued(uint64_t nWriteNr, const unsigned char* pBytes, uint32_t nCount)
{
    if (!IsOn() || nWriteNr == 0)
        return;
    // Numbers start again with each opening of the port: what an earlier one never reported on
    // is not known to have gone out.
    if (!m_dequePending.empty() && nWriteNr <= m_dequePending.back().m_nWriteNr) {
        m_capture.Note(std::to_string(m_dequePending.size())
            + " writes are left out: the port closed before it said they went out");
        m_dequePending.clear();
    }
    m_dequePending.push_back(
        { nWriteNr, QByteArray(reinterpret_cast<const char*>(pBytes), qsizetype(nCount)) });
}

void CCaptureControl::WentOut(uint64_t nWriteNr)
{
    while (!m_dequePending.empty() && m_dequePending.front().m_nWriteNr <= nWriteNr) {
        const QByteArray& baBytes = m_dequePending.front().m_baBytes;
        m_capture.Sent(
            reinterpret_cast<const unsigned char*>(baBytes.constData()), size_t(baBytes.size()));
        m_dequePending.pop_front();
    }
}

void CCaptureControl::WriteFailed(uint64_t nWriteNr)
{
    while (!m_dequePending.empty() && m_dequePending.front().m_nWriteNr <= nWriteNr) {
        m_capture.Note("a write of " + std::to_string(m_dequePending.front().m_baBytes.size())
            + " bytes failed and is left out");
        m_dequePending.pop_front();
    }
}
