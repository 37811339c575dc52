#include "simdevice.h"

namespace {

constexpr uint8_t kPoll = 'P';
constexpr uint8_t kStart = 0x02;
constexpr uint8_t kEndShort = 0x03;
constexpr uint8_t kHandshake = 0x06;
constexpr uint8_t kEndFull = 0x17;
constexpr uint8_t kAck = 0x05;
constexpr uint8_t kNak = 0x15;

std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

const std::array<uint32_t, 256> g_adwCrcTable = MakeCrcTable();

} // namespace

CSimDevice::CSimDevice(const Options& options)
    : m_options(options)
{ }

uint32_t CSimDevice::Crc32(uint32_t dwCrc, const uint8_t* p, size_t nCount)
{
    for (size_t i = 0; i < nCount; ++i)
        dwCrc = g_adwCrcTable[(dwCrc ^ p[i]) & 0xFF] ^ (dwCrc >> 8);
    return dwCrc;
}

uint8_t CSimDevice::NoiseByte(long long nPos, bool bAnswers)
{
    if (bAnswers && nPos % 4 == 3)
        return kAck;
    if (bAnswers && nPos % 9 == 8)
        return kNak;
    uint8_t by = uint8_t(nPos * 73 + 11);
    while (by == kPoll || by == kAck || by == kNak)
        ++by;
    return by;
}

const char* CSimDevice::OutcomeName(Outcome e)
{
    switch (e) {
    case Outcome::None:
        return "none";
    case Outcome::Running:
        return "running";
    case Outcome::Ok:
        return "ok";
    case Outcome::Bad:
        return "bad";
    case Outcome::Refused:
        return "refused";
    case Outcome::Incomplete:
        return "incomplete";
    }
    return "none";
}

void CSimDevice::Feed(const uint8_t* p, size_t nCount, std::vector<uint8_t>& out)
{
    for (size_t i = 0; i < nCount; ++i)
        Take(p[i], out);
}

CSimDevice::Answer CSimDevice::Take(uint8_t b, std::vector<uint8_t>& out)
{
    ++m_nTaken;
    const size_t nBefore = out.size();
    Answer eAnswer = Answer::None;
    switch (m_eState) {
    case State::Idle:
        eAnswer = TakeIdle(b, out);
        break;
    case State::AwaitStart:
        if (b == kHandshake) {
            ++m_nDownloads;
            m_eOutcome = Outcome::Running;
            m_eState = State::FrameStart;
            m_nFrame = 0;
            m_bAfterFull = false;
            m_nImageBytes = 0;
            m_dwCrc = 0xFFFFFFFFu;
            m_nWireBytes = 1;
            if (m_fnSink)
                m_fnSink(0, nullptr, 0);
        } else if (b == kStart) {
            // A frame without the handshake byte: refuse it rather than leave the host waiting.
            ++m_nDownloads;
            eAnswer = Refuse(Outcome::Bad, out);
        } else {
            m_eState = State::Idle;
            eAnswer = TakeIdle(b, out);
        }
        break;
    case State::FrameStart:
        if (b == kStart) {
            m_eState = State::LengthHigh;
        } else if (b == kPoll && m_bAfterFull) {
            // The host is polling again: the image ended with a full frame.
            m_eOutcome = Outcome::Ok;
            m_eState = State::Idle;
            eAnswer = TakeIdle(b, out);
        } else {
            ++m_nFrame;
            eAnswer = Refuse(Outcome::Bad, out);
        }
        break;
    case State::LengthHigh:
        m_nLength = size_t(b) << 8;
        m_eState = State::LengthLow;
        break;
    case State::LengthLow:
        m_nLength |= b;
        if (m_nLength == 0 || m_nLength > kMaxData) {
            ++m_nFrame;
            eAnswer = Refuse(Outcome::Bad, out);
        } else {
            m_nFill = 0;
            m_byXor = 0;
            m_eState = State::Data;
        }
        break;
    case State::Data:
        m_abData[m_nFill++] = b;
        m_byXor ^= b;
        if (m_nFill == m_nLength)
            m_eState = State::Checksum;
        break;
    case State::Checksum:
        m_byChecksum = b;
        m_eState = State::End;
        break;
    case State::End:
        eAnswer = EndFrame(b, out);
        break;
    case State::Silent:
        break;
    }
    if (m_options.m_bMute) {
        out.resize(nBefore);
        return Answer::None;
    }
    return eAnswer;
}

CSimDevice::Answer CSimDevice::TakeIdle(uint8_t b, std::vector<uint8_t>& out)
{
    if (b == kPoll)
        return AnswerPoll(out);
    if (m_options.m_bEcho) {
        out.push_back(b);
        return Answer::Echo;
    }
    return Answer::None;
}

CSimDevice::Answer CSimDevice::AnswerPoll(std::vector<uint8_t>& out)
{
    if (!m_bNoiseSent) {
        m_bNoiseSent = true;
        out.insert(out.end(), m_options.m_strBanner.begin(), m_options.m_strBanner.end());
        for (int i = 0; i < m_options.m_nNoise; ++i)
            out.push_back(NoiseByte(i, m_options.m_bNoiseAcks));
    }
    out.push_back(kPoll);
    out.insert(out.end(), m_options.m_szIdent.begin(), m_options.m_szIdent.end());
    m_eState = State::AwaitStart;
    return Answer::Poll;
}

CSimDevice::Answer CSimDevice::EndFrame(uint8_t b, std::vector<uint8_t>& out)
{
    ++m_nFrame;
    const bool bFull = m_nLength == kMaxData;
    if (b != (bFull ? kEndFull : kEndShort) || m_byChecksum != m_byXor)
        return Refuse(Outcome::Bad, out);
    if (m_nFrame == m_options.m_nRefuseFrame)
        return Refuse(Outcome::Refused, out);
    if (m_nFrame == m_options.m_nGarbageAfter) {
        m_bBabble = true;
        FallSilent(false);
        return Answer::None;
    }
    const long nLimit = m_options.m_nStopAfter >= 0 ? m_options.m_nStopAfter : -1;
    const long nUnplug = m_options.m_nHangupAfter >= 0 ? m_options.m_nHangupAfter : -1;
    if ((nLimit >= 0 && m_nAckedTotal >= nLimit) || (nUnplug >= 0 && m_nAckedTotal >= nUnplug)) {
        // Only reachable with a limit of 0: the device dies before answering the first frame.
        FallSilent(nUnplug >= 0 && m_nAckedTotal >= nUnplug);
        return Answer::None;
    }

    ++m_nAccepted;
    if (m_fnSink)
        m_fnSink(m_nImageBytes, m_abData.data(), m_nLength);
    m_dwCrc = Crc32(m_dwCrc, m_abData.data(), m_nLength);
    m_nImageBytes += m_nLength;
    m_nWireBytes += m_nLength + 5;
    out.push_back(kAck);
    if (m_options.m_bDoubleAcks || m_nFrame == m_options.m_nStrayAck)
        out.push_back(kAck);
    if (bFull) {
        m_bAfterFull = true;
        m_eState = State::FrameStart;
    } else {
        m_eOutcome = Outcome::Ok;
        m_eState = State::Idle;
    }
    Acknowledged();
    return bFull ? Answer::Ack : Answer::AckLast;
}

void CSimDevice::Acknowledged()
{
    ++m_nAckedTotal;
    const bool bStop = m_options.m_nStopAfter >= 0 && m_nAckedTotal >= m_options.m_nStopAfter;
    const bool bUnplug = m_options.m_nHangupAfter >= 0 && m_nAckedTotal >= m_options.m_nHangupAfter;
    if (bStop || bUnplug)
        FallSilent(bUnplug);
}

void CSimDevice::FallSilent(bool bHangup)
{
    if (m_eOutcome == Outcome::Running)
        m_eOutcome = Outcome::Incomplete;
    m_eState = State::Silent;
    m_bHangup = m_bHangup || bHangup;
}

CSimDevice::Answer CSimDevice::Refuse(Outcome e, std::vector<uint8_t>& out)
{
    ++m_nRefused;
    m_eOutcome = e;
    m_eState = State::Idle;
    out.push_back(kNak);
    return Answer::Nak;
}

size_t CSimDevice::BytesBeforeAnswer() const
{
    switch (m_eState) {
    case State::LengthHigh:
        return 2;
    case State::Data:
        return m_nLength - m_nFill + 2;
    case State::Checksum:
        return 2;
    case State::Silent:
        return SIZE_MAX;
    default:
        return 1;
    }
}

bool CSimDevice::InDownload() const
{
    switch (m_eState) {
    case State::FrameStart:
    case State::LengthHigh:
    case State::LengthLow:
    case State::Data:
    case State::Checksum:
    case State::End:
        return true;
    default:
        return false;
    }
}

bool CSimDevice::WaitsForQuiet() const
{
    return InDownload();
}

void CSimDevice::OnQuiet()
{
    if (!WaitsForQuiet())
        return;
    const bool bComplete = m_eState == State::FrameStart && m_bAfterFull;
    m_eOutcome = bComplete ? Outcome::Ok : Outcome::Incomplete;
    m_eState = State::Idle;
}

void CSimDevice::Finish()
{
    if (m_eState == State::FrameStart && m_bAfterFull)
        m_eOutcome = Outcome::Ok;
}
