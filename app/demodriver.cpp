#include "demodriver.h"

#include "controlbar.h"
#include "mainframe.h"

#include <QPushButton>
#include <QTimer>

#include <cstdio>

CDemoDriver::CDemoDriver(CMainFrame* pFrame, const QString& strImage)
    : m_pFrame(pFrame)
    , m_strImage(strImage)
{
    CPrompts::SetInstance(this);
}

CDemoDriver::~CDemoDriver()
{
    CPrompts::SetInstance(nullptr);
}

void CDemoDriver::Start()
{
    // Paced so that each step can be seen on screen.
    CControlBar* pBar = m_pFrame->m_pDlgBar;
    QTimer::singleShot(300, pBar->m_pOpenClose, &QPushButton::click);
    QTimer::singleShot(600, pBar->m_pLoad, &QPushButton::click);
    QTimer::singleShot(900, pBar->m_pDown, &QPushButton::click);
}

void CDemoDriver::MessageBox(
    QWidget* /*pParent*/, const QString& strCaption, const QString& strText, bool /*bError*/)
{
    std::fprintf(stderr, "%s: %s\n", strCaption.toLocal8Bit().constData(),
        strText.toLocal8Bit().constData());
}

QString CDemoDriver::OpenFileName(QWidget* /*pParent*/, const QString& /*strFilter*/)
{
    return m_strImage;
}

QString CDemoDriver::SaveFileName(QWidget* /*pParent*/)
{
    return QString();
}
