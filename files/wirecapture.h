#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The wire written to a file as it crosses the port: every byte received, exactly as received,
// and every byte sent, in the order they crossed; appended to what the file holds. The owner's
// thread only gathers bytes in memory and hands them over a few times a second; a thread of the
// capture's own writes them, so the owner never waits on the disk. The file is flushed to the
// disk at least once a second and when the capture ends, and its folder with it, so that a crash
// or a power cut loses about the last second at most.
//
// Raw: the bytes alone. Timed: a text line for each burst of one direction,
//     2024-05-17 10:15:03.250 RX "OK\r\n"
// local time of the burst's first byte, RX (from the device) or TX (to it), and its bytes in
// quotes: printable ASCII as itself, \r \n \t \" \\, and any other byte as \xHH. A burst ends at
// a change of direction, after a line end (LF, or a CR with no LF after it), after 256 bytes,
// after 10 ms without a byte, and when a hand-over closes it. Lines that start with # are notes.
class CWireCapture {
public:
    enum class EFormat : uint8_t { Raw, Timed };
    // What may wait in memory for a disk that does not keep up before the capture gives up.
    static constexpr size_t g_nMaxBacklog = size_t(64) << 20;

    // fnNowUs: microseconds since the epoch, for the timed format (the system clock if empty).
    explicit CWireCapture(std::function<int64_t()> fnNowUs = {});
    // Ends a capture still running and waits for its writer while it gets on.
    ~CWireCapture();
    CWireCapture(const CWireCapture&) = delete;
    CWireCapture& operator=(const CWireCapture&) = delete;

    // Opens (or makes) strPath to append to and starts the writer. False with the reason.
    bool Start(const std::string& strPath, EFormat eFormat, std::string& strError);
    bool IsOn() const { return m_bOn; }
    EFormat Format() const { return m_eFormat; }
    const std::string& Path() const { return m_strPath; }

    // Owner's thread. A byte received; bytes sent, once they went out.
    void Received(unsigned char nByte)
    {
        if (!m_bOn)
            return;
        if (m_eFormat == EFormat::Timed) {
            AddTimed(true, &nByte, 1);
            return;
        }
        m_strChunk.push_back(char(nByte));
        if (m_strChunk.size() >= g_nChunkBytes)
            Flush();
    }
    void Sent(const unsigned char* p, size_t nCount);
    // Owner's thread. A note line of the timed format ("# ..."); nothing in raw.
    void Note(const std::string& strText);
    // Owner's thread. Hands what gathered to the writer; a few times a second.
    void Flush();
    // Owner's thread. Ends the capture: the writer writes what is left, flushes the file and its
    // folder to the disk and closes the file. Returns at once.
    void Stop();
    // Waits until the writer has ended; false if it wrote nothing for nIdleMs (a disk that hangs).
    bool WaitWriter(int nIdleMs);

    // What the file holds so far, as the writer wrote it.
    uint64_t FileSize() const;
    // Why the capture stopped by itself (the disk failed, is full or does not keep up), told once;
    // empty when it did not.
    std::string TakeFailure();

private:
    static constexpr size_t g_nChunkBytes = 256 * 1024;
    struct SShared;

    // Hands what gathered to the writer, unless the capture has failed.
    void HandOver();
    void AddTimed(bool bReceived, const unsigned char* p, size_t nCount);
    void OpenBurst(bool bReceived, int64_t nNowUs);
    void CloseBurst();
    void AppendTime(int64_t nUs);

    std::function<int64_t()> m_fnNowUs;
    bool m_bOn = false;
    EFormat m_eFormat = EFormat::Raw;
    std::string m_strPath;
    std::string m_strChunk; // gathered, not yet handed over
    std::shared_ptr<SShared> m_pShared; // with the writer, which may outlive a capture it gave up
    bool m_bFailureTold = false;

    // The timed format's open burst.
    bool m_bBurstOpen = false;
    bool m_bBurstReceived = false;
    int m_nBurstBytes = 0;
    int m_nPrevByte = -1;
    int64_t m_nLastUs = 0;
    int64_t m_nSecond = -1; // the second m_strSecond is the text of
    std::string m_strSecond;
};
