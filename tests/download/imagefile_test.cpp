#include "imagefile.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(ImageFileTest, HeldExclusivelyUntilClosed)
{
    CTempDir dir;
    const std::string strPath = dir.Write("fw.bin", { 1, 2, 3, 4, 5 });
    CImageFile first;
    ASSERT_TRUE(first.Open(strPath));
    {
        CImageFile second;
        EXPECT_FALSE(second.Open(strPath));
        EXPECT_FALSE(second.IsOpen());
    }
    first.Close();
    CImageFile third;
    EXPECT_TRUE(third.Open(strPath));
}

TEST(ImageFileTest, RefusesWhatIsNotARegularFile)
{
    CTempDir dir;
    const std::string strFifo = dir.Path() + "/pipe.bin";
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    CImageFile file;
    EXPECT_FALSE(file.Open(strFifo)); // must not block waiting for a writer
    EXPECT_FALSE(file.Open(dir.Path()));
    EXPECT_FALSE(file.Open("/dev/null"));
    EXPECT_FALSE(file.Open(""));
}

} // namespace
