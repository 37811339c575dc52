#include "statusbar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>

namespace {

QLabel* MakeIndicator(QStatusBar* pBar, const QString& strText)
{
    auto* pLabel = new QLabel(pBar);
    // Sized for its text, so the pane keeps its place while the key is off.
    pLabel->setMinimumWidth(QFontMetrics(pLabel->font()).horizontalAdvance(strText) + 8);
    pLabel->setAlignment(Qt::AlignCenter);
    pLabel->setProperty("indicatorText", strText);
    pBar->addPermanentWidget(pLabel);
    return pLabel;
}

} // namespace

CStatusBar::CStatusBar(QWidget* pParent)
    : QStatusBar(pParent)
{
    setObjectName(QStringLiteral("statusBar"));
    // A temporary message (a prompt) hides this label while it is shown, and it comes back after.
    m_pIdle = new QLabel(QStringLiteral("就绪"), this);
    addWidget(m_pIdle, 1);
    m_pPortNote = new QLabel(this);
    m_pPortNote->setObjectName(QStringLiteral("portNote"));
    addPermanentWidget(m_pPortNote);
    m_pCaps = MakeIndicator(this, QStringLiteral("大写"));
    m_pNum = MakeIndicator(this, QStringLiteral("数字"));
    m_pScroll = MakeIndicator(this, QStringLiteral("滚动"));

    m_timerLocks.setInterval(250);
    connect(&m_timerLocks, &QTimer::timeout, this, &CStatusBar::PollLocks);
    m_timerLocks.start();
    PollLocks();
}

void CStatusBar::PollLocks()
{
    ShowLocks(ReadKeyLocks());
}

void CStatusBar::ShowLocks(const CKeyLocks& locks)
{
    const auto show = [](QLabel* pLabel, bool bOn) {
        pLabel->setText(bOn ? pLabel->property("indicatorText").toString() : QString());
    };
    show(m_pCaps, locks.m_bCaps);
    show(m_pNum, locks.m_bNum);
    show(m_pScroll, locks.m_bScroll);
}

bool CStatusBar::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyRelease)
        PollLocks();
    return QStatusBar::eventFilter(pWatched, pEvent);
}
