#include <QApplication>

int RunLogCodecTests(int argc, char** argv);
int RunBremViewTests(int argc, char** argv);

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int nFailed = RunLogCodecTests(argc, argv);
    nFailed += RunBremViewTests(argc, argv);
    return nFailed == 0 ? 0 : 1;
}
