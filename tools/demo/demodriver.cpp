#include "demodriver.h"

#include "bremview.h"
#include "controlbar.h"
#include "mainframe.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

CDemoDriver::CDemoDriver(const SOptions& options)
    : m_options(options)
{
    CPrompts::SetInstance(this);
}

CDemoDriver::~CDemoDriver()
{
    CPrompts::SetInstance(nullptr);
}

bool CDemoDriver::Start(CMainFrame* pFrame)
{
    m_pFrame = pFrame;
    CControlBar* pBar = pFrame->m_pDlgBar;
    const int nPort = pBar->m_pComPort->findText(m_options.strPort);
    const int nBaud = pBar->m_pBaudRate->findText(m_options.strBaud);
    if (nPort < 0 || nBaud < 0)
        return false;
    pBar->m_pComPort->setCurrentIndex(nPort);
    pBar->m_pBaudRate->setCurrentIndex(nBaud);
    if (m_options.nStopAfter > STEP_NONE)
        QTimer::singleShot(m_options.nPaceMs, pFrame, [this] { NextStep(); });
    return true;
}

void CDemoDriver::NextStep()
{
    CControlBar* pBar = m_pFrame->m_pDlgBar;
    switch (++m_nDone) {
    case STEP_OPEN:
        pBar->m_pOpenClose->click();
        m_pFrame->GetActiveView()->SetSelection(INT64_MAX, INT64_MAX); // the caret to the end
        for (const QChar ch : m_options.strType) {
            QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
            QCoreApplication::sendEvent(m_pFrame->GetActiveView(), &key);
        }
        break;
    case STEP_LOAD:
        pBar->m_pLoad->click();
        break;
    case STEP_DOWN:
        pBar->m_pDown->click();
        break;
    }
    if (m_nDone < m_options.nStopAfter)
        QTimer::singleShot(m_options.nPaceMs, m_pFrame, [this] { NextStep(); });
}

void CDemoDriver::MessageBox(
    QWidget* /*pParent*/, const QString& strCaption, const QString& strText, bool /*bError*/)
{
    std::fprintf(stderr, "%s: %s\n", strCaption.toLocal8Bit().constData(),
        strText.toLocal8Bit().constData());
}

QString CDemoDriver::OpenFileName(QWidget* /*pParent*/, const QString& /*strFilter*/)
{
    return m_options.strImage;
}

QString CDemoDriver::SaveFileName(QWidget* /*pParent*/)
{
    return QString();
}
