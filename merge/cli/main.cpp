// Quillet: merges the LAS files named in a list file into one LAS file.
#include <cstdio>
#include <span>

#include "cli/merge_driver.hpp"

int main(int argc, char** argv) {
    const int status =
        quillet::run(std::span<const char* const>(argv, static_cast<std::size_t>(argc)), stdout,
                     korvane::system_files(), stderr);
    std::fflush(stdout);
    return status;
}
