// Plays the operator of brem.exe's window under Wine: the real start-up and main window, on
// the display Wine shows it on, against a device simulator behind COM1. Exits 0 only when
// every step went as an operator would see it; what went wrong goes to stderr.
//
//   window_drive download IMAGE [--hold]   open COM1, load IMAGE, DOWN, wait for the end,
//                                          close the window; --hold waits for a line on stdin
//                                          after the download (for a screenshot)
//   window_drive end-session                open COM1, then the session ends
//   window_drive interrupt                  open COM1, then wait for Ctrl+C
//   window_drive hot-plug                   open COM1, take it out of the device map and put
//                                          it back, as a pulled and replugged adapter
//
// Before the window opens COM1 its line is set to 9600 baud; once the window has gone, COM1
// must open again (released) and still be at 9600 (restored).

#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "mainframe.h"
#include "prompts.h"
#include "statusbar.h"
#include "winside.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr unsigned long g_nBaudBefore = 9600;
constexpr int g_nDownloadMs = 60000;

int g_nFailures = 0;

void Check(bool bOk, const std::string& strWhat)
{
    if (bOk)
        return;
    ++g_nFailures;
    std::fprintf(stderr, "window_drive: %s\n", strWhat.c_str());
}

// Runs the event loop until fnDone holds or the time is up.
bool WaitFor(const std::function<bool()>& fnDone, int nMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(20);
    while (!fnDone()) {
        if (clock.elapsed() > nMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Boxes would wait for a person: each is told on stderr and counts as a failure. The open
// dialog is answered with the image.
class CAnswers : public CPrompts {
public:
    explicit CAnswers(QString strImage)
        : m_strImage(std::move(strImage))
    { }

    void MessageBox(QWidget*, const QString& strCaption, const QString& strText, bool) override
    {
        Check(false, "a box came up: " + strCaption.toStdString() + ": " + strText.toStdString());
    }
    QString OpenFileName(QWidget*, const QString&) override { return m_strImage; }
    QString SaveFileName(QWidget*) override { return QString(); }

private:
    QString m_strImage;
};

// A box can hold its text and still show none: with a stand-in font whose line box is several
// lines tall, the line edit centres the text above its own top. Counted by columns, so that a
// caret alone does not pass for text.
bool DrawsItsText(QLineEdit* pEdit)
{
    const QImage image = pEdit->grab().toImage();
    const QRect inside = QRect(QPoint(0, 0), image.size()).adjusted(3, 3, -3, -3);
    const QColor text = pEdit->palette().color(QPalette::Text);
    const auto near = [&text](QRgb pixel) {
        return std::abs(qRed(pixel) - text.red()) + std::abs(qGreen(pixel) - text.green())
            + std::abs(qBlue(pixel) - text.blue())
            < 200;
    };
    int nColumns = 0;
    for (int x = inside.left(); x <= inside.right(); ++x) {
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            if (near(image.pixel(x, y))) {
                ++nColumns;
                break;
            }
        }
    }
    return nColumns >= 8;
}

bool ShownWithCaption(CMainFrame* pFrame)
{
    // The caption as Windows holds it for the task bar, not only as Qt does.
    return pFrame->isVisible()
        && QString::fromStdWString(WindowCaption(pFrame->winId()))
        == QString::fromLatin1(CBremApp::CAPTION);
}

bool OpenCom1(CMainFrame* pFrame)
{
    CControlBar* pBar = pFrame->m_pDlgBar;
    for (QWidget* pControl : std::initializer_list<QWidget*> { pBar->m_pComPort, pBar->m_pBaudRate,
             pBar->m_pOpenClose, pBar->m_pFilePath, pBar->m_pLoad, pBar->m_pDown, pBar->m_pProgress,
             pBar->m_pClear, pFrame->GetActiveView() })
        Check(pControl->isVisible(), pControl->objectName().toStdString() + " is not shown");
    Check(pBar->m_pComPort->currentText() == QLatin1String("COM1")
            && pBar->m_pBaudRate->currentText() == QLatin1String("115200"),
        "COM1 and 115200 are not chosen at start");
    for (QComboBox* pCombo : { pBar->m_pComPort, pBar->m_pBaudRate })
        Check(DrawsItsText(pCombo->lineEdit()),
            pCombo->objectName().toStdString() + " does not draw the text it holds");
    pBar->m_pOpenClose->click();
    return pBar->m_pOpenClose->text() == QLatin1String("Close") && g_bPortOpened;
}

int Download(CMainFrame* pFrame, const QString& strImage, bool bHold)
{
    CControlBar* pBar = pFrame->m_pDlgBar;
    pBar->m_pLoad->click();
    Check(pBar->m_pFilePath->text() == strImage, "the image's path is not shown after Load");
    Check(DrawsItsText(pBar->m_pFilePath), "the path box does not draw the path it holds");
    pBar->m_pDown->click();
    const auto log = [pFrame] { return QString::fromUtf8(pFrame->GetActiveView()->LogBytes()); };
    const bool bEnded = WaitFor(
        [&] {
            const QString strLog = log();
            return g_nFailures > 0 || strLog.contains(QLatin1String("DownLoad OK"))
                || strLog.contains(QLatin1String("Error"));
        },
        g_nDownloadMs);
    // The bar is painted a moment after the last frame.
    WaitFor([pBar] { return pBar->m_pProgress->value() == pBar->m_pProgress->maximum(); }, 2000);
    const QString strLog = log();
    Check(bEnded, "the download did not end in time");
    Check(strLog.contains(QLatin1String("Handshake OK")), "no handshake in the log");
    Check(strLog.count(QLatin1String("DownLoad OK")) == 1 && !strLog.contains("Error"),
        "the download did not end well; the log:\n" + strLog.toStdString());
    Check(pBar->m_pProgress->value() == pBar->m_pProgress->maximum(), "the bar is not full");
    if (bHold) {
        std::printf("downloaded\n");
        std::fflush(stdout);
        // Left behind if no line comes: the process ends it.
        static std::atomic<bool> s_bGo { false };
        std::thread([] {
            std::string strLine;
            std::getline(std::cin, strLine);
            s_bGo = true;
        }).detach();
        WaitFor([] { return s_bGo.load(); }, 60000);
    }
    pFrame->close();
    Check(!g_bPortOpened, "the port is still open after the window closed");
    return 0;
}

bool Listed(CMainFrame* pFrame)
{
    // After the COM items, by the name Windows gives its device.
    QComboBox* pPorts = pFrame->m_pDlgBar->m_pComPort;
    for (int i = 0; i < pPorts->count(); ++i) {
        if (pPorts->itemText(i).startsWith(QString::fromUtf8("COM1 \u2014 "))
            && !pPorts->itemText(i).endsWith(QLatin1String("(unplugged)")))
            return true;
    }
    return false;
}

int HotPlug(CMainFrame* pFrame)
{
    const auto note = [pFrame] { return pFrame->m_pStatusBar->m_pPortNote->text(); };
    std::string strError;
    Check(WaitFor([pFrame] { return Listed(pFrame); }, 5000), "COM1 is not listed as a device");
    Check(TakeCom1FromDeviceMap(strError), strError);
    Check(WaitFor([&] { return !Listed(pFrame) && note().contains(QLatin1String("unplugged")); },
              10000),
        "the window did not see COM1 go: " + note().toStdString());
    Check(PutCom1BackInDeviceMap(strError), strError);
    Check(WaitFor(
              [&] { return Listed(pFrame) && note().contains(QLatin1String("reopened")); }, 10000),
        "the window did not reopen COM1 when it came back: " + note().toStdString());
    Check(g_bPortOpened, "COM1 is not open after it came back");
    pFrame->close();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString strMode = args.value(1);
    const QString strImage = args.value(2);
    if (!QStringList { "download", "end-session", "interrupt", "hot-plug" }.contains(strMode)) {
        std::fprintf(stderr,
            "usage: window_drive download IMAGE [--hold] | end-session | interrupt | hot-plug\n");
        return 2;
    }
    std::string strError;
    if (!SetCom1Baud(g_nBaudBefore, strError)) {
        std::fprintf(stderr, "window_drive: COM1 cannot be set up: %s\n", strError.c_str());
        return 1;
    }
    CAnswers answers(strImage);
    CPrompts::SetInstance(&answers);
    int nStatus = 0;
    {
        CBremApp theApp;
        Check(theApp.InitInstance(QStringList { args.value(0) }), "the window did not start");
        CMainFrame* pFrame = theApp.MainFrame();
        Check(WaitFor([pFrame] { return ShownWithCaption(pFrame); }, 60000),
            "the window is not shown with its caption: "
                + std::string(pFrame->isVisible() ? "shown" : "not shown") + ", caption \""
                + QString::fromStdWString(WindowCaption(pFrame->winId())).toStdString() + "\"");
        if (g_nFailures == 0 && !OpenCom1(pFrame))
            Check(false, "COM1 did not open");
        if (g_nFailures == 0 && strMode == QLatin1String("download")) {
            nStatus = Download(pFrame, strImage, args.contains(QLatin1String("--hold")));
        } else if (g_nFailures == 0 && strMode == QLatin1String("end-session")) {
            // As Windows asks every window at log-off; the window's answer ends the program.
            Check(EndSession(pFrame->winId()), "the window refused to end the session");
            Check(!g_bPortOpened, "the port is still open when the session ends");
            nStatus = QApplication::exec();
        } else if (g_nFailures == 0 && strMode == QLatin1String("hot-plug")) {
            nStatus = HotPlug(pFrame);
        } else if (g_nFailures == 0) {
            std::printf("open\n");
            std::fflush(stdout);
            nStatus = QApplication::exec();
        }
    }
    CPrompts::SetInstance(nullptr);
    const unsigned long nBaudAfter = Com1Baud();
    Check(nBaudAfter != 0, "COM1 cannot be opened after the window went");
    Check(nBaudAfter == g_nBaudBefore,
        "COM1 was left at " + std::to_string(nBaudAfter) + " baud, not put back to 9600");
    if (g_nFailures > 0)
        return 1;
    std::printf("window_drive: %s passed\n", strMode.toUtf8().constData());
    return nStatus;
}
