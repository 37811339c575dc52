#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

// Files and texts the end-to-end tests make and read.

inline std::string TempPath(const std::string& strName)
{
    return testing::TempDir() + "brem-e2e-" + std::to_string(getpid()) + "-" + strName;
}

inline std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string RandomBytes(size_t nCount, unsigned nSeed)
{
    std::mt19937 rng(nSeed);
    std::string str(nCount, '\0');
    for (char& c : str)
        c = static_cast<char>(rng() & 0xFF);
    return str;
}

inline std::string LastLine(std::string str)
{
    while (!str.empty() && str.back() == '\n')
        str.pop_back();
    return str.substr(str.rfind('\n') + 1);
}
