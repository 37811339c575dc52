#include "logcodec.h"

#include <array>

namespace {

constexpr char16_t g_chPictures = 0x2400; // SYMBOL FOR NULL; 0x00-0x1F follow in order
constexpr char16_t g_chDelete = 0x2421;
constexpr char16_t g_chC1 = 0xE000; // 0x80-0x9F land on U+E080-U+E09F

constexpr std::array<char16_t, 256> MakeByteTable()
{
    std::array<char16_t, 256> table {};
    for (int n = 0; n < 256; ++n) {
        if (n < 0x20 && n != 0x09)
            table[n] = char16_t(g_chPictures + n);
        else if (n == 0x7F)
            table[n] = g_chDelete;
        else if ((n >= 0x80 && n < 0xA0) || n == 0xAD) // U+00AD would not be drawn
            table[n] = char16_t(g_chC1 + n);
        else
            table[n] = char16_t(n);
    }
    return table;
}

constexpr std::array<char16_t, 256> g_byteToChar = MakeByteTable();

void AppendUtf8(QByteArray& baOut, QStringView strChars)
{
    baOut += strChars.toUtf8();
}

} // namespace

QChar CLogCodec::ByteToChar(unsigned char nByte)
{
    return QChar(g_byteToChar[nByte]);
}

int CLogCodec::CharToByte(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c < 0x100)
        return (c == 0x09 || (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c != 0xAD)) ? int(c) : -1;
    if (c >= g_chPictures && c < g_chPictures + 0x20)
        return c - g_chPictures;
    if (c == g_chDelete)
        return 0x7F;
    if ((c >= g_chC1 + 0x80 && c < g_chC1 + 0xA0) || c == g_chC1 + 0xAD)
        return c - g_chC1;
    return -1;
}

QString CLogCodec::BytesToText(const char* pBytes, qsizetype nCount)
{
    QString str;
    str.reserve(nCount);
    for (qsizetype i = 0; i < nCount; ++i) {
        const auto nByte = static_cast<unsigned char>(pBytes[i]);
        if (nByte == '\r' && i + 1 < nCount && pBytes[i + 1] == '\n') {
            str += g_chLineBreak;
            ++i;
        } else {
            str += QChar(g_byteToChar[nByte]);
        }
    }
    return str;
}

void CLogCodec::AppendBytes(QByteArray& baOut, QStringView strChars)
{
    // Foreign characters are gathered into runs so that surrogate pairs encode as one.
    qsizetype nForeign = -1;
    for (qsizetype i = 0; i < strChars.size(); ++i) {
        const int nByte = CharToByte(strChars[i]);
        if (nByte < 0) {
            if (nForeign < 0)
                nForeign = i;
            continue;
        }
        if (nForeign >= 0) {
            AppendUtf8(baOut, strChars.mid(nForeign, i - nForeign));
            nForeign = -1;
        }
        baOut += char(nByte);
    }
    if (nForeign >= 0)
        AppendUtf8(baOut, strChars.mid(nForeign));
}

QString CLogCodec::ForeignToText(const QString& strForeign)
{
    QString str;
    str.reserve(strForeign.size());
    qsizetype nForeign = -1;
    auto flushForeign = [&](qsizetype nEnd) {
        if (nForeign < 0)
            return;
        const QByteArray baUtf8 = QStringView(strForeign).mid(nForeign, nEnd - nForeign).toUtf8();
        for (char c : baUtf8)
            str += ByteToChar(static_cast<unsigned char>(c));
        nForeign = -1;
    };
    for (qsizetype i = 0; i < strForeign.size(); ++i) {
        const QChar ch = strForeign[i];
        if (ch == u'\r' || ch == u'\n' || ch == QChar::ParagraphSeparator
            || ch == QChar::LineSeparator) {
            flushForeign(i);
            if (ch == u'\r' && i + 1 < strForeign.size() && strForeign[i + 1] == u'\n')
                ++i;
            str += g_chLineBreak;
        } else if (CharToByte(ch) >= 0) {
            flushForeign(i);
            str += ch;
        } else if (nForeign < 0) {
            nForeign = i;
        }
    }
    flushForeign(strForeign.size());
    return str;
}
