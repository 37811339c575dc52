// Shows the window with COM1 open on a pseudo-terminal at 921600 baud and the device's lines
// played through the port's line hooks (a pty has none): "dialog" adds the Port Settings dialog,
// "lines" shows the status bar's line states after DTR was turned on. For scripts/screenshots.
#include "bremapp.h"
#include "bremview.h"
#include "controlbar.h"
#include "mainframe.h"
#include "portsettings.h"
#include "serial/dcb.h"
#include "testpty.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

bool Escape(uint32_t)
{
    return true;
}

bool Modem(uint32_t& dwStatus)
{
    dwStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
    return true;
}

const CCommPort::SLineHooks g_hooks = { Escape, Modem };

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const bool bDialog = argc > 1 && QLatin1String(argv[1]) == QLatin1String("dialog");
    QTemporaryDir dir;
    qputenv("BREM_PORTS_DIR", dir.path().toLocal8Bit());
    CTestPty pty(dir.filePath(QStringLiteral("COM1")).toStdString());
    CCommPort::SetLineHooks(&g_hooks);
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    SPortSettings settings;
    settings.control.eFlow = SLineControl::FLOW_RTSCTS;
    settings.eEnter = SPortSettings::ENTER_CRLF;
    pFrame->ApplyPortSettings(settings);
    QComboBox* pBaud = pFrame->m_pDlgBar->m_pBaudRate;
    pBaud->setCurrentIndex(pBaud->findText(QStringLiteral("921600")));
    pFrame->m_pDlgBar->m_pOpenClose->click();
    pFrame->OnToggleDtr();
    // After the monitor thread's purge at start.
    QTimer::singleShot(200, pFrame, [&pty] {
        pty.Send({ 'E', 'S', 'P', '-', 'R', 'O', 'M', ':', 'e', 's', 'p', '3', '2', '\r', '\n', 'r',
            's', 't', ':', '0', 'x', '1', ' ', '(', 'P', 'O', 'W', 'E', 'R', 'O', 'N', ')', '\r',
            '\n', 'w', 'a', 'i', 't', 'i', 'n', 'g', ' ', 'f', 'o', 'r', ' ', 'd', 'o', 'w', 'n',
            'l', 'o', 'a', 'd', '\r', '\n' });
    });
    if (bDialog) {
        auto* pDlg = new CPortSettingsDlg(pFrame->PortSettings(), true, pFrame);
        QTimer::singleShot(300, pDlg, [pDlg, pFrame] {
            pDlg->move(pFrame->geometry().center() - pDlg->rect().center());
            pDlg->show();
        });
    }
    return QApplication::exec();
}
