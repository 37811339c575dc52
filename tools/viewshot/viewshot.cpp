// The window with a sample terminal session in its log, shown as hex or with arrival times; or
// with lines from a device that ends them with LF alone and one that ends them with CR alone,
// with line ends as the terminal always took them ("crlf") or as received ("received"); or a long
// boot log with Find showing the last "error" ("find").
#include "bremapp.h"
#include "bremview.h"
#include "findbar.h"
#include "mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QString strShow = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("hex");
    CBremApp theApp;
    if (!theApp.InitInstance({ QStringLiteral("brem") }))
        return 1;
    CMainFrame* pFrame = theApp.MainFrame();
    CBremView* pView = pFrame->GetActiveView();
    const auto trigger = [pFrame](const QString& strItem) {
        for (QAction* pAction : pFrame->findChildren<QAction*>())
            if (pAction->text() == strItem)
                pAction->trigger();
    };
    const auto receive = [pFrame](const QByteArray& baBytes) {
        for (char c : baBytes) {
            const auto nByte = static_cast<unsigned char>(c);
            pFrame->AppendRaw(&nByte, 1);
        }
    };
    if (strShow == QLatin1String("crlf") || strShow == QLatin1String("received")) {
        if (strShow == QLatin1String("received"))
            trigger(QStringLiteral("Line Ends as Received(&R)"));
        pFrame->AppendLine("A board that ends its lines with LF:");
        receive(QByteArrayLiteral("boot 1.4.2\nsensor ok\ntemp=21.5 C\n\n"));
        pFrame->AppendLine("A modem that ends its lines with CR:");
        receive(QByteArray("AT+CSQ\r+CSQ: 23,99\rOK\r\0ready\r", 29));
        pFrame->AppendLine("A device that ends its lines with CR LF:");
        receive(QByteArrayLiteral("DTU-7 boot loader 2.3\r\nwaiting\r\n"));
        pFrame->resize(760, 400);
        return QApplication::exec();
    }

    if (strShow == QLatin1String("find")) {
        for (int n = 0; n < 400; ++n) {
            receive(QByteArrayLiteral("[") + QByteArray::number(1000 + n * 37) + "] sensor "
                + QByteArray::number(n % 7) + ": temp=" + QByteArray::number(20 + n % 5)
                + ".4 C\r\n");
            if (n == 211)
                receive(QByteArrayLiteral("[8807] ERROR: flash verify failed at 0x0801C000\r\n"));
            if (n == 305)
                receive(QByteArrayLiteral("[12285] Error: sensor 3 not answering\r\n"));
        }
        CFindBar* pFind = pFrame->m_pFindBar;
        pFind->Open();
        pFind->m_pText->setText(QStringLiteral("error"));
        pFind->FindPrevious();
        pFind->FindPrevious();
        pFrame->resize(900, 420);
        return QApplication::exec();
    }

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
    receive(baSession);
    pFrame->AppendLine("There are total 3 Frame");
    trigger(strShow == QLatin1String("hex") ? QStringLiteral("Hex(&X)")
                                            : QStringLiteral("Timestamps(&M)"));
    pFrame->resize(900, 420);
    return QApplication::exec();
}
