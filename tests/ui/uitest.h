#pragma once
// What the window's tests share: prompts answered as a test asks, and the device end of a port.
#include "prompts.h"
#include "testpty.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>

#include <sys/file.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// Remembers the boxes; answers the file dialogs with what the test put in.
class CRecordingPrompts : public CPrompts {
public:
    void MessageBox(QWidget*, const QString& strCaption, const QString& strText, bool) override
    {
        m_boxes << strCaption + QLatin1Char('|') + strText;
    }
    void MessageBoxWithDetail(QWidget* pParent, const QString& strCaption, const QString& strText,
        const QString& strDetail, bool bError) override
    {
        MessageBox(pParent, strCaption, strText, bError);
        m_details << strDetail;
    }
    QString OpenFileName(QWidget*, const QString&) override { return m_strOpen; }
    QString SaveFileName(QWidget*) override
    {
        ++m_nSaveAsked;
        return m_strSave;
    }
    QStringList m_boxes, m_details;
    QString m_strOpen, m_strSave;
    int m_nSaveAsked = 0;
};

// What the device end gets, while the window runs: the port waits for it to take the notice
// that follows each write before it sends the next.
inline Bytes Receive(CTestPty& pty, size_t nCount)
{
    Bytes bytes;
    for (QDeadlineTimer deadline(5000); bytes.size() < nCount && !deadline.hasExpired();) {
        const Bytes more = pty.Receive(nCount - bytes.size(), 10);
        bytes.insert(bytes.end(), more.begin(), more.end());
        QCoreApplication::processEvents();
    }
    return bytes;
}

inline speed_t Speed(const CTestPty& pty)
{
    termios tio {};
    tcgetattr(pty.Slave(), &tio);
    return cfgetospeed(&tio);
}

// Nobody holds the device any more: someone else can take the line.
inline bool DeviceFree(const CTestPty& pty)
{
    const int nFd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool bFree = nFd >= 0 && flock(nFd, LOCK_EX | LOCK_NB) == 0;
    if (nFd >= 0)
        close(nFd);
    return bFree;
}

inline QStringList Items(const QComboBox* pBox, int nFrom = 0, int nTo = -1)
{
    QStringList items;
    for (int i = nFrom; i < (nTo < 0 ? pBox->count() : nTo); ++i)
        items << pBox->itemText(i);
    return items;
}

// COM1 to COM20, sorted as text as the list box sorts them, after the empty item.
inline QStringList ComItems()
{
    QStringList coms;
    for (int i = 1; i <= 20; ++i)
        coms << QStringLiteral("COM%1").arg(i);
    coms.sort();
    return QStringList(QString()) + coms;
}

inline bool WriteFile(const QString& strPath, const QByteArray& baBytes)
{
    QFile file(strPath);
    return file.open(QIODevice::WriteOnly) && file.write(baBytes) == baBytes.size();
}
