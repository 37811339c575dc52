#include "bremapp.h"
#include "bremmanual.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (BremHelpAsked(argc, argv)) {
        std::fputs(HelpText(BremManual()).c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    CBremApp theApp;
    if (!theApp.InitInstance(QApplication::arguments()))
        return 1;
    return QApplication::exec();
}
