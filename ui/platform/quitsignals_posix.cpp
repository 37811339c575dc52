#include "quitsignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

constexpr int g_anSignals[] = { SIGTERM, SIGINT, SIGHUP };
std::atomic<int> g_hWakeFd { -1 };
struct sigaction g_aOldActions[3];

void OnSignal(int nSignal)
{
    const int nSaved = errno;
    const auto c = static_cast<unsigned char>(nSignal);
    const int hFd = g_hWakeFd.load();
    // A full pipe already holds a wake-up.
    if (hFd >= 0 && ::write(hFd, &c, 1) < 0) { }
    errno = nSaved;
}

} // namespace

struct CQuitSignals::SImpl {
    std::function<void()> fnRelease;
    std::function<void(int)> fnQuit;
    int ahPipe[2] = { -1, -1 };
    QSocketNotifier* pNotifier = nullptr;

    void OnReadable()
    {
        unsigned char c = 0;
        int nSignal = 0;
        while (::read(ahPipe[0], &c, 1) == 1)
            nSignal = c;
        if (nSignal == 0)
            return;
        if (fnRelease)
            fnRelease();
        if (fnQuit)
            fnQuit(nSignal);
    }
};

CQuitSignals::CQuitSignals(
    std::function<void()> fnRelease, std::function<void(int)> fnQuit, QObject* pParent)
    : QObject(pParent)
    , m_pImpl(std::make_unique<SImpl>())
{
    SImpl& impl = *m_pImpl;
    impl.fnRelease = std::move(fnRelease);
    impl.fnQuit = std::move(fnQuit);
    if (::pipe2(impl.ahPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    impl.pNotifier = new QSocketNotifier(impl.ahPipe[0], QSocketNotifier::Read, this);
    connect(impl.pNotifier, &QSocketNotifier::activated, this, [this] { m_pImpl->OnReadable(); });
    g_hWakeFd.store(impl.ahPipe[1]);
    struct sigaction sa { };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(g_anSignals); ++i)
        ::sigaction(g_anSignals[i], &sa, &g_aOldActions[i]);
}

CQuitSignals::~CQuitSignals()
{
    SImpl& impl = *m_pImpl;
    if (impl.ahPipe[0] < 0)
        return;
    for (size_t i = 0; i < std::size(g_anSignals); ++i)
        ::sigaction(g_anSignals[i], &g_aOldActions[i], nullptr);
    g_hWakeFd.store(-1);
    delete impl.pNotifier;
    ::close(impl.ahPipe[0]);
    ::close(impl.ahPipe[1]);
}
