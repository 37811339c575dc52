#include "quitsignals.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>

#include <windows.h>

#include <atomic>
#include <csignal>

namespace {

constexpr int g_nSigTerm = 15; // what a POSIX system would have sent instead
// Windows ends a process this long after a closing console's handler was called.
constexpr DWORD g_nCloseWaitMs = 4000;

struct SState {
    QPointer<CQuitSignals> pOwner;
    std::function<void()> fnRelease;
    std::function<void(int)> fnQuit;
    // Set once the quit has run on the Qt thread: the port is closed.
    HANDLE hDone = nullptr;
    bool bQuitting = false;
};
// Never freed: a console handler may still be running when the window has gone.
SState g_state;
std::atomic<bool> g_bActive { false };

void Release(SState& state)
{
    if (state.fnRelease)
        state.fnRelease();
    ::SetEvent(state.hDone);
}

void Quit(SState& state, int nSignal)
{
    if (state.bQuitting)
        return;
    state.bQuitting = true;
    Release(state);
    if (state.fnQuit)
        state.fnQuit(nSignal);
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD nEvent)
{
    if (!g_bActive.load())
        return FALSE;
    SState* pState = &g_state;
    const bool bInterrupt = nEvent == CTRL_C_EVENT || nEvent == CTRL_BREAK_EVENT;
    const int nSignal = bInterrupt ? SIGINT : g_nSigTerm;
    QMetaObject::invokeMethod(
        pState->pOwner.data(), [pState, nSignal] { Quit(*pState, nSignal); }, Qt::QueuedConnection);
    // The process ends when this returns for a console closing, a log-off or a shut-down: not
    // before the port is given back.
    if (!bInterrupt)
        ::WaitForSingleObject(pState->hDone, g_nCloseWaitMs);
    return TRUE;
}

// Log-off and shut-down for a program with windows: the process may end as soon as the
// window has answered WM_ENDSESSION, so the port is closed before that.
class CEndSessionFilter : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* pMessage, qintptr* /*pResult*/) override
    {
        if (type != "windows_generic_MSG" || !g_bActive.load())
            return false;
        const MSG* pMsg = static_cast<const MSG*>(pMessage);
        if (pMsg->message != WM_ENDSESSION || !pMsg->wParam || g_state.bQuitting)
            return false;
        // Closing the window here would pull it from under the message being handled: that
        // waits for the event loop, if the process still runs then.
        Release(g_state);
        QMetaObject::invokeMethod(
            g_state.pOwner.data(), [] { Quit(g_state, g_nSigTerm); }, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

struct CQuitSignals::SImpl {
    CEndSessionFilter filter;
};

CQuitSignals::CQuitSignals(
    std::function<void()> fnRelease, std::function<void(int)> fnQuit, QObject* pParent)
    : QObject(pParent)
    , m_pImpl(std::make_unique<SImpl>())
{
    g_state.pOwner = this;
    g_state.fnRelease = std::move(fnRelease);
    g_state.fnQuit = std::move(fnQuit);
    g_state.bQuitting = false;
    if (!g_state.hDone)
        g_state.hDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::ResetEvent(g_state.hDone);
    g_bActive.store(true);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(&m_pImpl->filter);
}

CQuitSignals::~CQuitSignals()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(&m_pImpl->filter);
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_bActive.store(false);
    g_state.fnRelease = nullptr;
    g_state.fnQuit = nullptr;
    // A console handler waiting now has nothing left to wait for.
    ::SetEvent(g_state.hDone);
}
