#include "converter/convert.h"

#include <csignal>
#include <iostream>

int main(int argc, char** argv)
{
    // A file-size limit must end in an error and a removed temporary file,
    // not in a kill that leaves the temporary behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return converter::convert(std::vector<std::string>(argv + 1, argv + argc), std::cerr);
}
