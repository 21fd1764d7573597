#pragma once

// What the fuzz targets share: whole files in and out, and a broken rule that ends the run.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fuzzfiles {

// Ends the fuzz run where a rule does not hold: libFuzzer keeps the input that broke it.
inline void check(bool holds, const char *target, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "%s: %s\n", target, what);
        std::abort();
    }
}

inline std::string readFile(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace fuzzfiles
