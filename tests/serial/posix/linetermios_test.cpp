#include "dcb.h"
#include "posix/linetermios.h"

#include <gtest/gtest.h>

namespace {

// A pty forces 8 data bits and no parity on whatever it is told, so the framing is checked on
// the flags a driver would be given.
struct SFlagCase {
    uint8_t nSize, nParity, nStop;
    tcflag_t nSet; // control flags that must be on
};

TEST(LineFlags, EachFramingReachesTheControlFlags)
{
    const tcflag_t nFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    const SFlagCase aCases[] = { { 8, NOPARITY, ONESTOPBIT, CS8 },
        { 7, EVENPARITY, ONESTOPBIT, CS7 | PARENB }, { 8, EVENPARITY, ONESTOPBIT, CS8 | PARENB },
        { 8, ODDPARITY, TWOSTOPBITS, CS8 | PARENB | PARODD | CSTOPB },
        { 6, MARKPARITY, ONESTOPBIT, CS6 | PARENB | PARODD | CMSPAR },
        { 7, SPACEPARITY, TWOSTOPBITS, CS7 | PARENB | CMSPAR | CSTOPB },
        { 5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB } };
    for (const SFlagCase& c : aCases) {
        termios tio {};
        // Left from another program: all of it must go.
        tio.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
        tio.c_iflag = IXON | IXOFF | ICRNL;
        tio.c_lflag = ICANON | ECHO | ISIG;
        SLineSettings dcb;
        dcb.ByteSize = c.nSize;
        dcb.Parity = c.nParity;
        dcb.StopBits = c.nStop;
        ASSERT_TRUE(ApplyLineFlags(dcb, tio));
        const std::string strCase = std::to_string(c.nSize) + "/" + std::to_string(c.nParity) + "/"
            + std::to_string(c.nStop);
        EXPECT_EQ(tio.c_cflag & nFraming, c.nSet) << strCase;
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | CRTSCTS), CLOCAL | CREAD) << strCase;
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u) << strCase;
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << strCase;

        SLineSettings back;
        ReadLineFlags(tio, back);
        EXPECT_EQ(std::tie(back.ByteSize, back.Parity, back.StopBits),
            std::tie(dcb.ByteSize, dcb.Parity, dcb.StopBits))
            << strCase;
    }
}

TEST(LineFlags, EachFlowControlReachesItsFlags)
{
    struct SFlow {
        uint8_t fOutxCtsFlow, fRtsControl, fOutX, fInX;
        tcflag_t nControl, nInput;
    };
    const SFlow aCases[]
        = { { 0, RTS_CONTROL_ENABLE, 0, 0, 0, 0 }, { 1, RTS_CONTROL_HANDSHAKE, 0, 0, CRTSCTS, 0 },
              { 0, RTS_CONTROL_ENABLE, 1, 1, 0, IXON | IXOFF },
              { 0, RTS_CONTROL_DISABLE, 1, 0, 0, IXON } };
    for (const SFlow& c : aCases) {
        termios tio {};
        SLineSettings dcb;
        dcb.fOutxCtsFlow = c.fOutxCtsFlow;
        dcb.fRtsControl = c.fRtsControl;
        dcb.fOutX = c.fOutX;
        dcb.fInX = c.fInX;
        ASSERT_TRUE(ApplyLineFlags(dcb, tio));
        EXPECT_EQ(tio.c_cflag & CRTSCTS, c.nControl);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), c.nInput);
        EXPECT_EQ(tio.c_cc[VSTART], 0x11);
        EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    }
}

TEST(LineFlags, FramingNoDriverTakesChangesNothing)
{
    for (const SFlagCase& c : { SFlagCase { 4, NOPARITY, ONESTOPBIT, 0 },
             SFlagCase { 9, NOPARITY, ONESTOPBIT, 0 }, SFlagCase { 8, 5, ONESTOPBIT, 0 },
             SFlagCase { 8, NOPARITY, 3, 0 }, SFlagCase { 8, NOPARITY, ONE5STOPBITS, 0 } }) {
        termios tio {};
        tio.c_cflag = CS7 | HUPCL;
        SLineSettings dcb;
        dcb.ByteSize = c.nSize;
        dcb.Parity = c.nParity;
        dcb.StopBits = c.nStop;
        EXPECT_FALSE(ApplyLineFlags(dcb, tio));
        EXPECT_EQ(tio.c_cflag, CS7 | HUPCL);
    }
}

} // namespace
