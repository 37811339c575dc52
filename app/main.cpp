#include "bremapp.h"
#include "demodriver.h"
#include "mainframe.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    CBremApp theApp;
    if (!theApp.InitInstance(QApplication::arguments()))
        return 1;
    std::unique_ptr<CDemoDriver> pDemo;
    const QString strDemo = qEnvironmentVariable("BREM_DEMO");
    if (!strDemo.isEmpty()) {
        pDemo = std::make_unique<CDemoDriver>(theApp.MainFrame(), strDemo);
        pDemo->Start();
    }
    return QApplication::exec();
}
