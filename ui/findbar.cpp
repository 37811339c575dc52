#include "findbar.h"

#include "bremview.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace {

// Slices of a search follow one another for this long before the window takes its turn, so a
// click waits a few milliseconds at most. A slice is sized to take about a millisecond, however
// slowly a pattern is found (one checked at length at every byte is a thousand times slower).
constexpr int g_nTurnMs = 8;
constexpr int64_t g_nSliceMinBytes = 4 * 1024;
constexpr int64_t g_nSliceMaxBytes = 4 << 20;
// A search that takes longer than this shows how far it got and can be stopped.
constexpr int g_nProgressAfterMs = 500;

QPushButton* MakeButton(QWidget* pParent, const QString& strText, const QString& strName)
{
    auto* pButton = new QPushButton(strText, pParent);
    pButton->setAccessibleName(strName);
    pButton->setAutoDefault(false);
    return pButton;
}

} // namespace

CFindBar::CFindBar(CBremView* pView, QWidget* pParent)
    : QWidget(pParent)
    , m_pView(pView)
    , m_search(pView->Store())
{
    setObjectName(QStringLiteral("findBar"));
    auto* pLabel = new QLabel(QStringLiteral("Find:"), this);
    m_pText = new QLineEdit(this);
    m_pText->setAccessibleName(QStringLiteral("Find what"));
    m_pText->setPlaceholderText(QStringLiteral("text, or bytes in hex"));
    m_pText->setClearButtonEnabled(true);
    m_pHex = new QCheckBox(QStringLiteral("He&x"), this);
    m_pHex->setAccessibleName(QStringLiteral("Hex bytes"));
    m_pHex->setToolTip(QStringLiteral("Find bytes given in hex, e.g. 0D 0A"));
    m_pMatchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    m_pMatchCase->setAccessibleName(QStringLiteral("Match case"));
    m_pPrevious = MakeButton(this, QStringLiteral("Previous"), QStringLiteral("Find previous"));
    m_pPrevious->setToolTip(QStringLiteral("Shift+F3"));
    m_pNext = MakeButton(this, QStringLiteral("Next"), QStringLiteral("Find next"));
    m_pNext->setToolTip(QStringLiteral("F3 or Enter"));
    m_pStatus = new QLabel(this);
    m_pStatus->setObjectName(QStringLiteral("findStatus"));
    m_pStatus->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(QLatin1Char('x')) * 24);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setAccessibleName(QStringLiteral("Find progress"));
    m_pProgress->setRange(0, 1000);
    m_pProgress->setTextVisible(false);
    m_pProgress->setMaximumWidth(120);
    m_pProgress->hide();
    m_pStop = MakeButton(this, QStringLiteral("Stop"), QStringLiteral("Stop finding"));
    m_pStop->hide();
    m_pClose = MakeButton(this, QStringLiteral("\u2715"), QStringLiteral("Close find bar"));
    m_pClose->setToolTip(QStringLiteral("Close (Esc)"));
    m_pClose->setFlat(true);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 2, 4, 2);
    for (QWidget* pWidget : std::initializer_list<QWidget*> { pLabel, m_pText, m_pHex, m_pMatchCase,
             m_pPrevious, m_pNext, m_pStatus, m_pProgress, m_pStop, m_pClose })
        pLayout->addWidget(pWidget, pWidget == m_pText ? 2 : pWidget == m_pStatus ? 3 : 0);

    connect(m_pPrevious, &QPushButton::clicked, this, &CFindBar::FindPrevious);
    connect(m_pNext, &QPushButton::clicked, this, &CFindBar::FindNext);
    connect(m_pStop, &QPushButton::clicked, this, &CFindBar::Stop);
    connect(m_pClose, &QPushButton::clicked, this, &CFindBar::Close);
    for (QWidget* pChild : { static_cast<QWidget*>(m_pText), static_cast<QWidget*>(m_pHex),
             static_cast<QWidget*>(m_pMatchCase), static_cast<QWidget*>(m_pPrevious),
             static_cast<QWidget*>(m_pNext), static_cast<QWidget*>(m_pStop),
             static_cast<QWidget*>(m_pClose) })
        pChild->installEventFilter(this);
    m_timerSlice.setSingleShot(true);
    m_timerSlice.setInterval(0);
    connect(&m_timerSlice, &QTimer::timeout, this, &CFindBar::RunSlices);
    hide();
}

void CFindBar::AddMenu(QMenuBar* pMenuBar, QAction* pBefore)
{
    auto* pMenu = new QMenu(QStringLiteral("Edit(&E)"), pMenuBar);
    pMenuBar->insertMenu(pBefore, pMenu);
    const auto add = [&](const QString& strText, const QString& strPrompt, const QKeySequence& key,
                         void (CFindBar::*pSlot)()) {
        QAction* pAction = pMenu->addAction(strText);
        pAction->setStatusTip(strPrompt);
        pAction->setShortcut(key);
        pAction->setShortcutContext(Qt::WindowShortcut);
        connect(pAction, &QAction::triggered, this, pSlot);
    };
    add(QStringLiteral("Find...(&F)"), QStringLiteral("Find text or hex bytes in the log"),
        QKeySequence(), &CFindBar::Open);
    add(QStringLiteral("Find Next(&N)"), QStringLiteral("Find the next match"),
        QKeySequence(Qt::Key_F3), &CFindBar::FindNext);
    add(QStringLiteral("Find Previous(&V)"), QStringLiteral("Find the previous match"),
        QKeySequence(Qt::SHIFT | Qt::Key_F3), &CFindBar::FindPrevious);
}

void CFindBar::Open()
{
    show();
    m_pText->setFocus(Qt::ShortcutFocusReason);
    m_pText->selectAll();
}

void CFindBar::Close()
{
    Stop();
    hide();
    m_pView->setFocus(Qt::OtherFocusReason);
}

void CFindBar::Say(const QString& strText)
{
    m_pStatus->setText(strText);
}

void CFindBar::Find(bool bForward)
{
    if (isHidden() || m_pText->text().isEmpty()) {
        Open();
        if (m_pText->text().isEmpty())
            return;
    }
    const QString strText = m_pText->text();
    CLogPattern pattern;
    QString strError;
    const bool bOk = m_pHex->isChecked()
        ? pattern.SetHex(strText, strError)
        : pattern.SetText(strText, !m_pView->IsLatin1(), m_pMatchCase->isChecked(), strError);
    if (!bOk) {
        Say(strError);
        return;
    }
    // Pressed again while the same search runs (a held F3): it goes on as it is.
    const QString strSearched = strText + QChar(m_pHex->isChecked() ? u'h' : u't')
        + QChar(m_pMatchCase->isChecked() ? u'c' : u'i') + QChar(bForward ? u'f' : u'b');
    if (IsSearching() && strSearched == m_strSearched)
        return;
    m_strSearched = strSearched;
    m_bForward = bForward;
    int64_t nFrom = m_pView->CaretPos();
    if (m_pView->HasSelection())
        nFrom = bForward ? std::max(m_pView->CaretPos(), m_pView->AnchorPos())
                         : std::min(m_pView->CaretPos(), m_pView->AnchorPos());
    m_search.Start(pattern, nFrom, bForward);
    // Slices start small: how fast this pattern is found is learnt as the search goes.
    m_nSliceBytes = g_nSliceMinBytes;
    m_elapsed.start();
    RunSlices();
}

void CFindBar::RunSlices()
{
    QElapsedTimer turn;
    turn.start();
    CLogSearch::EState eState = m_search.State();
    while (eState == CLogSearch::EState::Running && turn.elapsed() < g_nTurnMs) {
        const qint64 nStartNs = turn.nsecsElapsed();
        eState = m_search.Step(m_nSliceBytes);
        const qint64 nNs = turn.nsecsElapsed() - nStartNs;
        if (nNs < 500000)
            m_nSliceBytes = std::min(m_nSliceBytes * 2, g_nSliceMaxBytes);
        else if (nNs > 2000000)
            m_nSliceBytes = std::max(m_nSliceBytes / 2, g_nSliceMinBytes);
    }
    if (eState != CLogSearch::EState::Running) {
        Finish(eState);
        return;
    }
    if (m_elapsed.elapsed() >= g_nProgressAfterMs && m_pProgress->isHidden()) {
        Say(QStringLiteral("Searching..."));
        m_pProgress->show();
        m_pStop->show();
    }
    m_pProgress->setValue(int(m_search.Done() * 1000));
    m_timerSlice.start();
}

void CFindBar::Stop()
{
    if (!IsSearching())
        return;
    m_search.Cancel();
    Finish(CLogSearch::EState::Idle);
}

void CFindBar::Finish(CLogSearch::EState eState)
{
    m_timerSlice.stop();
    m_pProgress->hide();
    m_pStop->hide();
    m_strSearched.clear();
    switch (eState) {
    case CLogSearch::EState::Found: {
        m_pView->ShowMatch(m_search.MatchFrom(), m_search.MatchTo());
        QString strSay
            = QStringLiteral("Line %L1").arg(m_pView->Store().LineOf(m_search.MatchFrom()) + 1);
        if (m_search.Wrapped())
            strSay
                += m_bForward ? QStringLiteral(", from the top") : QStringLiteral(", from the end");
        Say(strSay);
        break;
    }
    case CLogSearch::EState::NotFound:
        Say(QStringLiteral("Not found"));
        break;
    case CLogSearch::EState::Changed:
        Say(QStringLiteral("Stopped: the log changed"));
        break;
    default:
        Say(QStringLiteral("Stopped"));
        break;
    }
}

bool CFindBar::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pWatched == m_pText
            && (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter)) {
            Find(!(pKey->modifiers() & Qt::ShiftModifier));
            return true;
        }
        if (pKey->key() == Qt::Key_Escape) {
            if (IsSearching())
                Stop();
            else
                Close();
            return true;
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}
