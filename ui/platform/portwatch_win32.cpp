#include "portwatch.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>
#include <QWinEventNotifier>

#include <windows.h>

#include <dbt.h>

namespace {

// Ports that come and go without a word from the device map are found this often.
constexpr int g_nLookMs = 1000;

// Windows tells every top-level window of ports and devices arriving and leaving.
class CDeviceChangeFilter : public QAbstractNativeEventFilter {
public:
    explicit CDeviceChangeFilter(CPortWatch* pWatch)
        : m_pWatch(pWatch)
    { }

    bool nativeEventFilter(const QByteArray& type, void* pMessage, qintptr* /*pResult*/) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG* pMsg = static_cast<const MSG*>(pMessage);
        if (pMsg->message == WM_DEVICECHANGE
            && (pMsg->wParam == DBT_DEVICEARRIVAL || pMsg->wParam == DBT_DEVICEREMOVECOMPLETE
                || pMsg->wParam == DBT_DEVNODES_CHANGED))
            Q_EMIT m_pWatch->Changed();
        return false;
    }

private:
    CPortWatch* m_pWatch;
};

} // namespace

struct CPortWatch::SImpl {
    explicit SImpl(CPortWatch* pWatch)
        : filter(pWatch)
    { }

    CDeviceChangeFilter filter;
    QTimer timerLook;
    HKEY hDeviceMap = nullptr;
    HANDLE hChanged = nullptr;
    QWinEventNotifier* pNotifier = nullptr;

    // Each port's driver enters it under SERIALCOMM; the notice is asked for anew after each.
    bool AskForNotice()
    {
        if (!hDeviceMap
            && ::RegOpenKeyExW(
                   HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP", 0, KEY_NOTIFY, &hDeviceMap)
                != ERROR_SUCCESS) {
            hDeviceMap = nullptr;
            return false;
        }
        return ::RegNotifyChangeKeyValue(hDeviceMap, TRUE,
                   REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, hChanged, TRUE)
            == ERROR_SUCCESS;
    }
};

CPortWatch::CPortWatch(QObject* pParent)
    : QObject(pParent)
    , m_pImpl(std::make_unique<SImpl>(this))
{
    SImpl& impl = *m_pImpl;
    impl.timerLook.setInterval(g_nLookMs);
    connect(&impl.timerLook, &QTimer::timeout, this, &CPortWatch::Changed);
    impl.hChanged = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (impl.hChanged) {
        impl.pNotifier = new QWinEventNotifier(impl.hChanged, this);
        connect(impl.pNotifier, &QWinEventNotifier::activated, this, [this] {
            m_pImpl->AskForNotice();
            Q_EMIT Changed();
        });
    }
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(&impl.filter);
}

CPortWatch::~CPortWatch()
{
    SImpl& impl = *m_pImpl;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(&impl.filter);
    delete impl.pNotifier;
    if (impl.hDeviceMap)
        ::RegCloseKey(impl.hDeviceMap);
    if (impl.hChanged)
        ::CloseHandle(impl.hChanged);
}

void CPortWatch::Clear()
{
    m_pImpl->timerLook.stop();
}

void CPortWatch::Watch(const CPortRoots& /*roots*/)
{
    SImpl& impl = *m_pImpl;
    if (!impl.timerLook.isActive()) {
        impl.timerLook.start();
        if (impl.hChanged)
            impl.AskForNotice();
    }
}
