#include "tools/still_check.h"

#include <iostream>

int main(int argc, char** argv)
{
    return still_check::run(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout, std::cerr);
}
