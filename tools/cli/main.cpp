#include "climain.h"

int main(int argc, char** argv)
{
    return BremCliMain(std::vector<std::string>(argv + 1, argv + argc), CPortRoots());
}
