// brem-cli over a device tree of the test's making: brem-cli-tree SYS DEV PORTS ARGS...
#include "climain.h"

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    return BremCliMain(
        std::vector<std::string>(argv + 4, argv + argc), CPortRoots { argv[1], argv[2], argv[3] });
}
