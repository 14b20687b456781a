#include "convert.h"

#include <iostream>

int main(int argc, char** argv)
{
    return converter::convert(std::vector<std::string>(argv + 1, argv + argc), std::cerr);
}
