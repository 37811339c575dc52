#pragma once

#include "lineends.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class CLogStore;

// One thing the log view draws: a character, a tab, a line break, or a small box that names a
// byte with no glyph of its own. Every cell covers one or more whole bytes, so the bytes are
// never changed by how they are shown.
struct SLogCell {
    enum EKind : uint8_t {
        Glyph, // m_nChar drawn as it is
        Tab,
        Break, // CR LF; also a lone CR or LF where those break lines
        Named, // a control code, boxed with its abbreviation (m_nChar: the code)
        Invalid, // a byte that does not decode, boxed as \xHH (m_nChar: the byte)
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
    static SLogCell Decode(const unsigned char* p, int nAvail, bool bUtf8, ELineEnds eEnds);
    // The cell at nPos of the store (a cell start), by the store's line-end rule.
    static SLogCell DecodeAt(const CLogStore& store, int64_t nPos, bool bUtf8);
    // A position at or before nPos where a cell starts, found without walking the line: a cell is
    // at most four bytes and never starts on a continuation byte or on a pair's LF.
    static int64_t CellStartNear(const CLogStore& store, int64_t nPos, bool bUtf8);
    // What a Named, Invalid or Hidden cell's box says. No control name looks like an undecodable
    // byte's "\xFF".
    static QString BoxText(const SLogCell& cell);
    // The cell as text for a screen reader: its character, a line break as LF, a box as its
    // label in angle brackets ("<ESC>", "<\xFF>"), as serial manuals write "<CR><LF>".
    static void AppendCellText(const SLogCell& cell, QString& strOut);
    // How many bytes at the end of a log of these nCount last bytes may still decode otherwise
    // once more bytes come (a cut UTF-8 sequence, a CR that an LF may join).
    static int UnsettledTail(const unsigned char* p, int nCount, bool bUtf8, ELineEnds eEnds);

    // One row of the hex view: offset, the bytes in hex, the bytes as text (printable ASCII).
    static QString HexRow(int64_t nOffset, const QByteArray& baBytes, int nPerRow, int nDigits);
    // Offset digits the hex view needs for a log of nSize bytes: 8 or more.
    static int HexDigits(int64_t nSize);

    // The bytes as plain text for other programs: each cell's character, CR LF as a line end,
    // control bytes as their pictures (U+2400...), undecodable bytes as U+FFFD.
    static QString BytesToText(const QByteArray& baBytes, bool bUtf8, ELineEnds eEnds);
    // Text from other programs to bytes: UTF-8, any line ending as CR LF, control pictures as
    // the bytes they picture.
    static QByteArray TextToBytes(const QString& strText);
};
