// brem-demo: Brem's own window and start-up, with a driver that plays the operator. For README
// screenshots and demonstrations; it is not installed.
#include "bremapp.h"
#include "demodriver.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Starts Brem and presses Open, Load and DOWN by itself, one step per pace. Boxes are "
        "printed on stderr. FILE starts with that log file, as brem FILE does."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Port item to pick."),
        QStringLiteral("COMn"), QStringLiteral("COM1"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Baud item to pick."),
        QStringLiteral("RATE"), QStringLiteral("115200"));
    const QCommandLineOption image(QStringLiteral("image"),
        QStringLiteral("What Load's dialog answers."), QStringLiteral("BIN"));
    const QCommandLineOption type(QStringLiteral("type"),
        QStringLiteral("Text typed into the terminal after Open."), QStringLiteral("TEXT"));
    const QCommandLineOption stop(QStringLiteral("stop-after"),
        QStringLiteral("Last step: none, open, load or down."), QStringLiteral("STEP"),
        QStringLiteral("down"));
    const QCommandLineOption pace(QStringLiteral("pace-ms"),
        QStringLiteral("Pause before each step."), QStringLiteral("MS"), QStringLiteral("300"));
    parser.addOptions({ port, baud, image, type, stop, pace });
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Log file to open."));
    parser.process(app);

    CDemoDriver::SOptions options;
    options.strPort = parser.value(port);
    options.strBaud = parser.value(baud);
    options.strImage = parser.value(image);
    options.strType = parser.value(type);
    const int nStop = QStringList({ "none", "open", "load", "down" }).indexOf(parser.value(stop));
    bool bPaceOk = false;
    options.nPaceMs = parser.value(pace).toInt(&bPaceOk);
    if (nStop < 0 || !bPaceOk || options.nPaceMs < 0 || parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "brem-demo: bad arguments (see --help)\n");
        return 2;
    }
    options.nStopAfter = static_cast<CDemoDriver::Step>(nStop);

    CDemoDriver driver(options);
    CBremApp theApp;
    if (!theApp.InitInstance(
            QStringList(QApplication::arguments().first()) + parser.positionalArguments()))
        return 1;
    if (!driver.Start(theApp.MainFrame())) {
        std::fprintf(stderr, "brem-demo: %s or %s is not in its list\n",
            qPrintable(options.strPort), qPrintable(options.strBaud));
        return 2;
    }
    return QApplication::exec();
}
