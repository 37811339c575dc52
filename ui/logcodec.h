#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringView>

// The log holds bytes; the widget holds characters. Every byte has exactly one character and
// back, so what the device sent and what a log file held survive the round trip unchanged.
//
// Log text, as produced and consumed here, is mapped characters with '\n' standing for one
// line break (the bytes CR LF). Mapped characters never include '\n' or '\r'.
//   0x09          tab
//   0x20-0x7E     themselves
//   0xA0-0xFF     Latin-1, but for 0xAD (an invisible soft hyphen there)
//   0x00-0x1F     control pictures U+2400-U+241F (lone CR and lone LF included)
//   0x7F          U+2421
//   0x80-0x9F     private use U+E080-U+E09F, and 0xAD U+E0AD
class CLogCodec {
public:
    static constexpr QChar g_chLineBreak = u'\n';

    static QChar ByteToChar(unsigned char nByte);
    // The byte a character stands for, or -1 when it is no byte's character.
    static int CharToByte(QChar ch);

    // Bytes to log text: CR LF becomes a line break, every other byte its character.
    static QString BytesToText(const char* pBytes, qsizetype nCount);
    static QString BytesToText(const QByteArray& baBytes)
    {
        return BytesToText(baBytes.constData(), baBytes.size());
    }

    // Appends the bytes of a run of characters that holds no line break. A character that is no
    // byte's character contributes its UTF-8 bytes.
    static void AppendBytes(QByteArray& baOut, QStringView strChars);

    // Text from outside (clipboard, drop, input method) to log text: any line ending becomes a
    // line break, mapped characters stay, anything else is taken as its UTF-8 bytes.
    static QString ForeignToText(const QString& strForeign);
};
