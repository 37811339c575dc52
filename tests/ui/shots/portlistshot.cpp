// Shows the window over a fake device tree (an FTDI adapter linked as COM3, an Arduino, a
// built-in UART) with the port list dropped down, for scripts/screenshots. The window sits low
// on the screen so that the list opens upwards, inside it.
#include "bremapp.h"
#include "controlbar.h"
#include "faketree.h"
#include "mainframe.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    CFakeTree tree;
    AddBench(tree);
    tree.LinkCom(3, tree.ById(FtdiAdapter().strById));
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    pFrame->SetPortRoots(tree.Roots());
    pFrame->move(0, 200);
    QComboBox* pPorts = pFrame->m_pDlgBar->m_pComPort;
    pPorts->setCurrentIndex(pPorts->count() - 1);
    QTimer::singleShot(500, pPorts, [pPorts] { pPorts->showPopup(); });
    return QApplication::exec();
}
