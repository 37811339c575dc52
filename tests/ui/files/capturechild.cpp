// The window capturing the wire from COM1 (raw) to the file its command line names; it sends an
// 'S' once the capture runs, so that the device end knows nothing it sends later can be purged.
// The capture test kills it in the middle of a flood.
#include "bremapp.h"
#include "capturecontrol.h"
#include "mainframe.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    pFrame->OnOpenClose();
    if (!pFrame->m_bPortOpen
        || !pFrame->m_pCapture->Start(QString::fromLocal8Bit(argv[1]), CWireCapture::EFormat::Raw))
        return 3;
    const unsigned char nStart = 'S';
    pFrame->WriteToPort(&nStart, 1);
    std::printf("capturing\n");
    std::fflush(stdout);
    return QApplication::exec();
}
