#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A program that has the file open for writing, as a build rewriting the image would.
class CWriter {
public:
    explicit CWriter(const std::string& strPath);
    ~CWriter();
    CWriter(const CWriter&) = delete;
    CWriter& operator=(const CWriter&) = delete;
    // False when readers keep it out.
    bool Holds() const { return m_bHolds; }

private:
    intptr_t m_hFile;
    bool m_bHolds = false;
};

// Whether a file may be renamed over one that a download holds open (not on Windows).
extern const bool g_bOpenFilesCanBeReplaced;

// Paths in strDir (made there as needed) that name something other than a regular file: none
// of them may be taken as an image, nor make the engine wait.
std::vector<std::string> IrregularFiles(const std::string& strDir);
