// The window with a sample terminal session in its log, shown as hex or with arrival times.
#include "bremapp.h"
#include "bremview.h"
#include "mainframe.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString strShow = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("hex");
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    CBremView* pView = pFrame->GetActiveView();

    // A device that boots, answers commands, colours its output and sends some binary.
    int64_t nNow = QDateTime(QDate(2024, 5, 17), QTime(10, 15, 3, 250)).toMSecsSinceEpoch();
    pView->Store().SetClock([&nNow] { return nNow += 137; });
    const QByteArray baSession = QByteArrayLiteral("DTU-7 boot loader 2.3\r\n"
                                                   "\xe5\xb0\xb1\xe7\xbb\xaa ready\r\n"
                                                   "AT+CSQ\r\n+CSQ: 23,99\r\n"
                                                   "\x1b[32mOK\x1b[0m\r\n"
                                                   "frame:\x02\x10\x00\x7f\xff\x03\r\n"
                                                   "temp=21.5\xc2\xb0"
                                                   "C\tbat=3.91V\r\n");
    for (char c : baSession) {
        const auto nByte = static_cast<unsigned char>(c);
        pFrame->AppendRaw(&nByte, 1);
    }
    pFrame->AppendLine("There are total 3 Frame");
    const QString strItem = strShow == QLatin1String("hex") ? QStringLiteral("Hex(&X)")
                                                            : QStringLiteral("Timestamps(&M)");
    for (QAction* pAction : pFrame->findChildren<QAction*>())
        if (pAction->text() == strItem)
            pAction->trigger();
    pFrame->resize(900, 420);
    return QApplication::exec();
}
