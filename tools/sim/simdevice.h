#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The device end of the download protocol, without any I/O: bytes from the host go in, the
// device's answers come out. Everything the host sends is untrusted; no buffer grows with it.
class CSimDevice {
public:
    static constexpr size_t kIdentSize = 48;
    static constexpr size_t kMaxData = 4096;

    struct Options {
        std::array<uint8_t, kIdentSize> m_szIdent {};
        int m_nRefuseFrame = 0; // 1-based frame of each download to refuse; 0: none
        int m_nStopAfter = -1; // fall silent after this many acknowledgements in the run
        int m_nHangupAfter = -1; // ask to be unplugged after this many acknowledgements
        int m_nNoise = 0; // bytes (never 'P') sent ahead of the first poll answer
        bool m_bNoiseAcks = false; // the noise holds 0x05 and 0x15 bytes
        std::string m_strBanner; // sent ahead of the first poll answer, before the noise
        bool m_bMute = false; // read everything, answer nothing
        bool m_bEcho = false; // outside a download, send every received byte back
        int m_nStrayAck = 0; // 1-based frame of each download whose 0x05 is sent twice; 0: none
        bool m_bDoubleAcks = false; // every 0x05 sent twice
        int m_nGarbageAfter = 0; // frame of a download after which it babbles, never answering
    };

    // What one received byte made the device say.
    enum class Answer { None, Poll, Ack, AckLast, Nak, Echo };

    // How the latest download stands.
    enum class Outcome { None, Running, Ok, Bad, Refused, Incomplete };

    // Called with every accepted frame: its data and where it goes in the image. At the start of
    // each download it is called once with nCount 0 and nOffset 0 (the image starts afresh).
    using ImageSink = std::function<void(uint64_t nOffset, const uint8_t* p, size_t nCount)>;

    explicit CSimDevice(const Options& options);

    void SetImageSink(ImageSink sink) { m_fnSink = std::move(sink); }

    // Takes one byte from the host, appends the device's answer (if any) to out.
    Answer Take(uint8_t b, std::vector<uint8_t>& out);
    void Feed(const uint8_t* p, size_t nCount, std::vector<uint8_t>& out);

    // The line has been quiet for a while. After a full frame this means the image is complete
    // (its length was a multiple of 4096); in the middle of a frame the host has given up.
    void OnQuiet();
    // Whether OnQuiet would change anything now: a download is under way.
    bool WaitsForQuiet() const;

    // Closes the books for a summary: a download paused after a full frame counts as complete
    // unless the device cut it short itself.
    void Finish();

    // How many more bytes must come before the device can say anything; lets a paced line
    // sleep through a frame instead of waking for every byte.
    size_t BytesBeforeAnswer() const;

    bool InDownload() const;
    bool IsSilent() const { return m_eState == State::Silent; }
    // Talks on and on without answering (m_nGarbageAfter reached).
    bool Babbles() const { return m_bBabble; }
    bool WantsHangup() const { return m_bHangup; }

    int Downloads() const { return m_nDownloads; }
    long FramesAccepted() const { return m_nAccepted; }
    long FramesRefused() const { return m_nRefused; }
    Outcome LastOutcome() const { return m_eOutcome; }
    // Accepted image bytes of the latest download, and their CRC-32 (IEEE, as zlib computes it).
    uint64_t ImageBytes() const { return m_nImageBytes; }
    uint32_t ImageCrc() const { return m_dwCrc ^ 0xFFFFFFFFu; }
    // Bytes of the latest download taken in up to its last complete frame: 0x06 plus framing.
    uint64_t WireBytes() const { return m_nWireBytes; }
    // Every byte ever given to Take.
    uint64_t BytesTaken() const { return m_nTaken; }

    static uint32_t Crc32(uint32_t dwCrc, const uint8_t* p, size_t nCount);
    // Byte nPos of a fixed pseudo-random sequence that never holds 'P', nor 0x05 and 0x15
    // unless bAnswers.
    static uint8_t NoiseByte(long long nPos, bool bAnswers);
    static const char* OutcomeName(Outcome e);

private:
    enum class State {
        Idle,
        AwaitStart,
        FrameStart,
        LengthHigh,
        LengthLow,
        Data,
        Checksum,
        End,
        Silent
    };

    Answer TakeIdle(uint8_t b, std::vector<uint8_t>& out);
    Answer AnswerPoll(std::vector<uint8_t>& out);
    Answer EndFrame(uint8_t b, std::vector<uint8_t>& out);
    Answer Refuse(Outcome e, std::vector<uint8_t>& out);
    void Acknowledged();
    void FallSilent(bool bHangup);

    Options m_options;
    ImageSink m_fnSink;
    State m_eState = State::Idle;
    Outcome m_eOutcome = Outcome::None;
    bool m_bNoiseSent = false;
    bool m_bAfterFull = false; // at a frame boundary after a full frame
    bool m_bHangup = false;
    bool m_bBabble = false;
    int m_nDownloads = 0;
    int m_nFrame = 0; // frames ended in this download
    long m_nAccepted = 0;
    long m_nRefused = 0;
    long m_nAckedTotal = 0;
    size_t m_nLength = 0;
    size_t m_nFill = 0;
    uint8_t m_byXor = 0;
    uint8_t m_byChecksum = 0;
    uint64_t m_nImageBytes = 0;
    uint32_t m_dwCrc = 0xFFFFFFFFu;
    uint64_t m_nWireBytes = 0;
    uint64_t m_nTaken = 0;
    std::array<uint8_t, kMaxData> m_abData {};
};
