// CSimDevice fed as a host would feed it; every case runs whole, a byte at a time and in chunks.
#include "simdevice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::string;

Bytes Frame(const Bytes& data, bool bFirst = false)
{
    char cXor = 0;
    for (char c : data)
        cXor ^= c;
    return (bFirst ? "\x06\x02" : "\x02")
        + Bytes { char(data.size() >> 8), char(data.size() & 0xFF) } + data + cXor
        + (data.size() == 4096 ? '\x17' : '\x03');
}

Bytes Data(size_t nCount, int nSeed)
{
    Bytes str(nCount, '\0');
    for (size_t i = 0; i < nCount; ++i)
        str[i] = char((i * 31 + size_t(nSeed) * 7 + i / 251) & 0xFF);
    return str;
}

const Bytes g_strIdent = Bytes("DEVICE") + Bytes(42, '\0');
const Bytes g_strPollAnswer = "P" + g_strIdent;
const Bytes g_strAck = "\x05";
const Bytes g_strNak = "\x15";

CSimDevice::Options MakeOptions()
{
    CSimDevice::Options options;
    std::copy(g_strIdent.begin(), g_strIdent.end(), options.m_szIdent.begin());
    return options;
}

struct Case {
    const char* m_pszName;
    Bytes m_strIn;
    Bytes m_strOut;
    Bytes m_strImage;
    long m_nAccepted;
    long m_nRefused;
    CSimDevice::Outcome m_eOutcome;
    bool m_bQuietAtEnd = false;
    void (*m_pfnTune)(CSimDevice::Options&) = nullptr;
};

void PrintTo(const Case& c, std::ostream* pOut)
{
    *pOut << c.m_pszName;
}

using O = CSimDevice::Outcome;
const Bytes g_full1 = Data(4096, 1);
const Bytes g_full2 = Data(4096, 2);

Bytes WithByte(Bytes str, size_t nPos, char c)
{
    str[nPos] = c;
    return str;
}

const Case g_aCases[] = {
    { "Abc",
        "P"
            + Bytes("\x06\x02\x00\x03"
                    "abc"
                    "\x60\x03",
                9),
        g_strPollAnswer + g_strAck, "abc", 1, 0, O::Ok },
    { "ShortFrameOf4095", "P" + Frame(Data(4095, 3), true), g_strPollAnswer + g_strAck,
        Data(4095, 3), 1, 0, O::Ok },
    { "FullFrameRunsUntilQuiet", "P" + Frame(g_full1, true), g_strPollAnswer + g_strAck, g_full1, 1,
        0, O::Running },
    { "FullFrameEndedByQuiet", "P" + Frame(g_full1, true), g_strPollAnswer + g_strAck, g_full1, 1,
        0, O::Ok, true },
    { "FullFrameEndedByNextPoll", "P" + Frame(g_full1, true) + "P",
        g_strPollAnswer + g_strAck + g_strPollAnswer, g_full1, 1, 0, O::Ok },
    { "FullThenShort", "P" + Frame(g_full1, true) + Frame("z"),
        g_strPollAnswer + g_strAck + g_strAck, g_full1 + "z", 2, 0, O::Ok },
    { "DataLooksLikeControlBytes", "P" + Frame(Bytes("\x02\x03\x17\x06P\x05\x15", 7), true),
        g_strPollAnswer + g_strAck, Bytes("\x02\x03\x17\x06P\x05\x15", 7), 1, 0, O::Ok },
    { "BadStartByte", "P" + WithByte(Frame("abc", true), 1, '\x01'), g_strPollAnswer + g_strNak, "",
        0, 1, O::Bad },
    { "LengthZero", "P" + Bytes("\x06\x02\x00\x00\x00\x03", 6), g_strPollAnswer + g_strNak, "", 0,
        1, O::Bad },
    { "Length4097", "P" + Bytes("\x06\x02\x10\x01", 4) + Bytes(4099, 'a'),
        g_strPollAnswer + g_strNak, "", 0, 1, O::Bad },
    { "BadChecksum", "P" + WithByte(Frame("abc", true), 7, '\x61'), g_strPollAnswer + g_strNak, "",
        0, 1, O::Bad },
    { "ShortFrameEndingAsFull", "P" + WithByte(Frame("abc", true), 8, '\x17'),
        g_strPollAnswer + g_strNak, "", 0, 1, O::Bad },
    { "FullFrameEndingAsShort", "P" + WithByte(Frame(g_full1, true), 4101, '\x03'),
        g_strPollAnswer + g_strNak, "", 0, 1, O::Bad },
    { "BadSecondFrameKeepsFirst", "P" + Frame(g_full1, true) + WithByte(Frame("xy"), 5, 'q'),
        g_strPollAnswer + g_strAck + g_strNak, g_full1, 1, 1, O::Bad },
    { "MissingHandshakeByte", "P" + Frame("abc"), g_strPollAnswer + g_strNak, "", 0, 1, O::Bad },
    { "FramesWithoutPollAreIgnored", Frame("abc", true), "", "", 0, 0, O::None },
    { "SecondDownloadReplacesImage", "P" + Frame("abc", true) + "P" + Frame("de", true),
        g_strPollAnswer + g_strAck + g_strPollAnswer + g_strAck, "de", 2, 0, O::Ok },
    { "RefuseSecondFrame", "P" + Frame(g_full1, true) + Frame(g_full2) + "P" + Frame("ok", true),
        g_strPollAnswer + g_strAck + g_strNak + g_strPollAnswer + g_strAck, "ok", 2, 1, O::Ok,
        false, [](CSimDevice::Options& o) { o.m_nRefuseFrame = 2; } },
    { "StopAfterOneFrame", "P" + Frame(g_full1, true) + Frame(g_full2) + "P",
        g_strPollAnswer + g_strAck, g_full1, 1, 0, O::Incomplete, true,
        [](CSimDevice::Options& o) { o.m_nStopAfter = 1; } },
    { "StopAfterHandshake", "P" + Frame("abc", true) + "P", g_strPollAnswer, "", 0, 0,
        O::Incomplete, false, [](CSimDevice::Options& o) { o.m_nStopAfter = 0; } },
    { "NoiseOnlyBeforeFirstPollAnswer", "PP",
        Bytes("\x0b\x54\x9d", 3) + g_strPollAnswer + g_strPollAnswer, "", 0, 0, O::None, false,
        [](CSimDevice::Options& o) { o.m_nNoise = 3; } },
    { "BannerBeforeFirstPollAnswer", "PP", "boot\r\n" + g_strPollAnswer + g_strPollAnswer, "", 0, 0,
        O::None, false, [](CSimDevice::Options& o) { o.m_strBanner = "boot\r\n"; } },
    { "StrayAckAfterFrameOne", "P" + Frame(g_full1, true) + Frame("z"),
        g_strPollAnswer + g_strAck + g_strAck + g_strAck, g_full1 + "z", 2, 0, O::Ok, false,
        [](CSimDevice::Options& o) { o.m_nStrayAck = 1; } },
    { "EveryAckTwice", "P" + Frame(g_full1, true) + Frame("z"),
        g_strPollAnswer + g_strAck + g_strAck + g_strAck + g_strAck, g_full1 + "z", 2, 0, O::Ok,
        false, [](CSimDevice::Options& o) { o.m_bDoubleAcks = true; } },
    { "GarbageAfterFrameTwoAnswersNoMore",
        "P" + Frame(g_full1, true) + Frame(g_full2) + Frame("x") + "P", g_strPollAnswer + g_strAck,
        g_full1, 1, 0, O::Incomplete, false,
        [](CSimDevice::Options& o) { o.m_nGarbageAfter = 2; } },
    { "EchoOutsideDownloadOnly", "hi\r" + Bytes("P") + Frame("abc", true) + "ok",
        "hi\r" + g_strPollAnswer + g_strAck + "ok", "abc", 1, 0, O::Ok, false,
        [](CSimDevice::Options& o) { o.m_bEcho = true; } },
    { "MuteAnswersNothing", "P" + Frame("abc", true), "", "abc", 1, 0, O::Ok, false,
        [](CSimDevice::Options& o) { o.m_bMute = true; } },
    { "QuietInsideFrameAbandonsIt", "P" + Frame(g_full1, true) + Frame("abc").substr(0, 4) + "P",
        g_strPollAnswer + g_strAck, g_full1, 1, 0, O::Incomplete, true },
    { "HangupAfterFramesFallsSilent", "P" + Frame(g_full1, true) + Frame(g_full2) + Frame("x"),
        g_strPollAnswer + g_strAck + g_strAck, g_full1 + g_full2, 2, 0, O::Incomplete, false,
        [](CSimDevice::Options& o) { o.m_nHangupAfter = 2; } },
};

class SimDeviceCase : public testing::TestWithParam<Case> { };

TEST_P(SimDeviceCase, AnswersAndImage)
{
    const Case& c = GetParam();
    CSimDevice::Options options = MakeOptions();
    if (c.m_pfnTune)
        c.m_pfnTune(options);
    for (const size_t nChunk : { c.m_strIn.size() + 1, size_t(1), size_t(7) }) {
        SCOPED_TRACE("chunks of " + std::to_string(nChunk));
        CSimDevice device(options);
        Bytes strImage;
        device.SetImageSink([&strImage](uint64_t nOffset, const uint8_t* p, size_t nCount) {
            if (nCount == 0)
                strImage.clear();
            ASSERT_EQ(nOffset, strImage.size());
            strImage.append(reinterpret_cast<const char*>(p), nCount);
        });
        std::vector<uint8_t> out;
        const auto* p = reinterpret_cast<const uint8_t*>(c.m_strIn.data());
        for (size_t i = 0; i < c.m_strIn.size(); i += nChunk)
            device.Feed(p + i, std::min(nChunk, c.m_strIn.size() - i), out);
        if (c.m_bQuietAtEnd)
            device.OnQuiet();
        EXPECT_EQ(Bytes(out.begin(), out.end()), c.m_strOut);
        EXPECT_TRUE(strImage == c.m_strImage) << "image of " << strImage.size();
        EXPECT_EQ(device.ImageBytes(), strImage.size());
        EXPECT_EQ(device.FramesAccepted(), c.m_nAccepted);
        EXPECT_EQ(device.FramesRefused(), c.m_nRefused);
        EXPECT_EQ(int(device.LastOutcome()), int(c.m_eOutcome));
        EXPECT_EQ(device.WantsHangup() && device.IsSilent(), options.m_nHangupAfter >= 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Exchanges, SimDeviceCase, testing::ValuesIn(g_aCases),
    [](const testing::TestParamInfo<Case>& row) { return row.param.m_pszName; });

// Noise stands for a wrong baud rate: it must never hold the poll answer, and holds the
// answer bytes only when asked to.
TEST(SimDevice, NoiseHoldsAnswerBytesOnlyWhenAsked)
{
    for (const bool bAnswers : { false, true }) {
        Bytes str;
        for (long long i = 0; i < 1000; ++i)
            str += char(CSimDevice::NoiseByte(i, bAnswers));
        EXPECT_EQ(str.find('P'), Bytes::npos);
        EXPECT_EQ(str.find('\x05') != Bytes::npos, bAnswers);
        EXPECT_EQ(str.find('\x15') != Bytes::npos, bAnswers);
    }
}

TEST(SimDevice, CrcOfImageAndFinishOfPausedFullImage)
{
    std::vector<uint8_t> out;
    for (const Bytes& strData : { Bytes("123456789"), g_full1 }) {
        CSimDevice device(MakeOptions());
        const Bytes strIn = "P" + Frame(strData, true);
        device.Feed(reinterpret_cast<const uint8_t*>(strIn.data()), strIn.size(), out);
        if (strData.size() == 9) {
            EXPECT_EQ(device.ImageCrc(), 0xCBF43926u); // IEEE
            EXPECT_EQ(device.WireBytes(), 1u + 9 + 5);
        }
        device.Finish(); // a full frame waits for more; the end counts it complete
        EXPECT_EQ(int(device.LastOutcome()), int(O::Ok));
    }
}

} // namespace
