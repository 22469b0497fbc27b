// quillon-cli: list the ports, or capture once into a VCD, CSV or PNG file.
#include "app/cli.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return quillon::RunCli(args, std::cout, std::cerr);
}
