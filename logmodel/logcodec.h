#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// One thing the log view draws: a character, a tab, a line break, or a small box that names a
// byte with no glyph of its own. Every cell covers one or more whole bytes, so the bytes are
// never changed by how they are shown.
struct SLogCell {
    enum EKind : uint8_t {
        Glyph, // m_nChar drawn as it is
        Tab,
        Break, // CR LF
        Named, // a control code, boxed with its abbreviation (m_nChar: the code)
        Invalid, // a byte that does not decode, boxed as hex (m_nChar: the byte)
        Hidden, // a character that draws nothing, boxed as hex (m_nChar: the character)
    };
    EKind m_eKind = Glyph;
    uint8_t m_nBytes = 1;
    char32_t m_nChar = 0;
};

// Bytes to cells (UTF-8, the locale's encoding here, or one character per byte) and the texts
// that go to and come from outside: clipboard, keyboard and the hex view.
class CLogCodec {
public:
    // The cell at p; nAvail bytes are there (at least 1), fewer than 4 only at the end of the log.
    static SLogCell Decode(const unsigned char* p, int nAvail, bool bUtf8);
    // What a Named, Invalid or Hidden cell's box says.
    static QString BoxText(const SLogCell& cell);

    // One row of the hex view: offset, the bytes in hex, the bytes as text (printable ASCII).
    static QString HexRow(int64_t nOffset, const QByteArray& baBytes, int nPerRow, int nDigits);
    // Offset digits the hex view needs for a log of nSize bytes: 8 or more.
    static int HexDigits(int64_t nSize);

    // The bytes as plain text for other programs: each cell's character, CR LF as a line end,
    // control bytes as their pictures (U+2400...), undecodable bytes as U+FFFD.
    static QString BytesToText(const QByteArray& baBytes, bool bUtf8);
    // Text from other programs to bytes: UTF-8, any line ending as CR LF, control pictures as
    // the bytes they picture.
    static QByteArray TextToBytes(const QString& strText);
};
