#include "logcodec.h"

#include "logstore.h"

#include <QChar>

#include <algorithm>

namespace {

constexpr const char* g_aszC0[] = { "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",
    "HT", "LF", "VT", "FF", "CR", "SO", "SI", "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN",
    "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US" };
constexpr const char* g_aszC1[] = { "PAD", "HOP", "BPH", "NBH", "IND", "NEL", "SSA", "ESA", "HTS",
    "HTJ", "VTS", "PLD", "PLU", "RI", "SS2", "SS3", "DCS", "PU1", "PU2", "STS", "CCH", "MW", "SPA",
    "EPA", "SOS", "SGC", "SCI", "CSI", "ST", "OSC", "PM", "APC" };

constexpr char32_t g_chPictures = 0x2400; // SYMBOL FOR NULL; 0x00-0x1F follow in order
constexpr char32_t g_chDeletePicture = 0x2421;

bool IsContinuation(unsigned char n)
{
    return (n & 0xC0) == 0x80;
}

// A character that a font would draw as nothing or that moves text around (format and control
// characters, separators, noncharacters).
bool DrawsNothing(char32_t nChar)
{
    if ((nChar >= 0xFDD0 && nChar <= 0xFDEF) || (nChar & 0xFFFE) == 0xFFFE)
        return true;
    switch (QChar::category(nChar)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return true;
    default:
        return false;
    }
}

SLogCell Cell(SLogCell::EKind eKind, int nBytes, char32_t nChar)
{
    SLogCell cell;
    cell.m_eKind = eKind;
    cell.m_nBytes = uint8_t(nBytes);
    cell.m_nChar = nChar;
    return cell;
}

// The length of the UTF-8 sequence at p and its character, or 0 when it is not one.
int DecodeUtf8(const unsigned char* p, int nAvail, char32_t& nChar)
{
    const unsigned char n0 = p[0];
    int nLength = 0;
    unsigned char nLow = 0x80;
    unsigned char nHigh = 0xBF;
    if (n0 >= 0xC2 && n0 <= 0xDF) {
        nLength = 2;
        nChar = n0 & 0x1F;
    } else if (n0 >= 0xE0 && n0 <= 0xEF) {
        nLength = 3;
        nChar = n0 & 0x0F;
        if (n0 == 0xE0)
            nLow = 0xA0; // overlong
        else if (n0 == 0xED)
            nHigh = 0x9F; // surrogates
    } else if (n0 >= 0xF0 && n0 <= 0xF4) {
        nLength = 4;
        nChar = n0 & 0x07;
        if (n0 == 0xF0)
            nLow = 0x90; // overlong
        else if (n0 == 0xF4)
            nHigh = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (nAvail < nLength || p[1] < nLow || p[1] > nHigh)
        return 0;
    for (int i = 1; i < nLength; ++i) {
        if (!IsContinuation(p[i]))
            return 0;
        nChar = (nChar << 6) | (p[i] & 0x3F);
    }
    return nLength;
}

} // namespace

SLogCell CLogCodec::Decode(const unsigned char* p, int nAvail, bool bUtf8, ELineEnds eEnds)
{
    const unsigned char n0 = p[0];
    if (n0 == '\r' && nAvail >= 2 && p[1] == '\n')
        return Cell(SLogCell::Break, 2, 0);
    // A cell never starts at the LF of a pair: a lone one.
    if ((n0 == '\r' || n0 == '\n') && eEnds == ELineEnds::AsReceived)
        return Cell(SLogCell::Break, 1, 0);
    if (n0 == '\t')
        return Cell(SLogCell::Tab, 1, '\t');
    if (n0 < 0x20 || n0 == 0x7F)
        return Cell(SLogCell::Named, 1, n0);
    if (n0 < 0x80)
        return Cell(SLogCell::Glyph, 1, n0);
    if (!bUtf8) {
        if (n0 < 0xA0 || n0 == 0xAD) // 0xAD, the soft hyphen, would be drawn as nothing
            return Cell(SLogCell::Named, 1, n0);
        return Cell(SLogCell::Glyph, 1, n0);
    }
    char32_t nChar = 0;
    const int nLength = DecodeUtf8(p, nAvail, nChar);
    if (nLength == 0)
        return Cell(SLogCell::Invalid, 1, n0);
    if (nChar < 0xA0)
        return Cell(SLogCell::Named, nLength, nChar);
    return Cell(DrawsNothing(nChar) ? SLogCell::Hidden : SLogCell::Glyph, nLength, nChar);
}

SLogCell CLogCodec::DecodeAt(const CLogStore& store, int64_t nPos, bool bUtf8)
{
    unsigned char ab[4];
    const int nAvail = int(store.Read(nPos, reinterpret_cast<char*>(ab), 4));
    return nAvail > 0 ? Decode(ab, nAvail, bUtf8, store.LineEnds())
                      : SLogCell { SLogCell::Glyph, 0, 0 };
}

int64_t CLogCodec::CellStartNear(const CLogStore& store, int64_t nPos, bool bUtf8)
{
    for (int n = 0; n < 4 && nPos > 0; ++n) {
        const unsigned char nByte = store.At(nPos);
        const bool bInside
            = (bUtf8 && IsContinuation(nByte)) || (nByte == '\n' && store.At(nPos - 1) == '\r');
        if (!bInside)
            break;
        --nPos;
    }
    return nPos;
}

QString CLogCodec::BoxText(const SLogCell& cell)
{
    switch (cell.m_eKind) {
    case SLogCell::Named:
        if (cell.m_nChar < 0x20)
            return QLatin1String(g_aszC0[cell.m_nChar]);
        if (cell.m_nChar == 0x7F)
            return QStringLiteral("DEL");
        if (cell.m_nChar >= 0x80 && cell.m_nChar < 0xA0)
            return QLatin1String(g_aszC1[cell.m_nChar - 0x80]);
        return QStringLiteral("SHY");
    case SLogCell::Invalid:
        return QStringLiteral("\\x") + QString::number(uint(cell.m_nChar), 16).toUpper();
    case SLogCell::Hidden:
        return QStringLiteral("%1").arg(uint(cell.m_nChar), 4, 16, QLatin1Char('0')).toUpper();
    default:
        return QString();
    }
}

int CLogCodec::HexDigits(int64_t nSize)
{
    int nDigits = 8;
    while (nDigits < 16 && (nSize >> (4 * nDigits)) != 0)
        ++nDigits;
    return nDigits;
}

QString CLogCodec::HexRow(int64_t nOffset, const QByteArray& baBytes, int nPerRow, int nDigits)
{
    static const char g_szHex[] = "0123456789ABCDEF";
    QString str = QStringLiteral("%1").arg(qulonglong(nOffset), nDigits, 16, QLatin1Char('0'));
    str = str.toUpper() + QLatin1String("  ");
    QString strText;
    for (int i = 0; i < nPerRow; ++i) {
        if (i > 0 && i % 8 == 0)
            str += QLatin1Char(' ');
        if (i < baBytes.size()) {
            const auto n = static_cast<unsigned char>(baBytes[i]);
            str += QLatin1Char(g_szHex[n >> 4]);
            str += QLatin1Char(g_szHex[n & 15]);
            strText += (n >= 0x20 && n < 0x7F) ? QLatin1Char(char(n)) : QLatin1Char('.');
        } else {
            str += QLatin1String("  ");
        }
        str += QLatin1Char(' ');
    }
    return str + QLatin1Char(' ') + strText;
}

void CLogCodec::AppendCellText(const SLogCell& cell, QString& strOut)
{
    switch (cell.m_eKind) {
    case SLogCell::Glyph:
    case SLogCell::Tab:
        if (cell.m_nChar < 0x10000)
            strOut += QChar(char16_t(cell.m_nChar));
        else
            strOut += QString::fromUcs4(&cell.m_nChar, 1);
        break;
    case SLogCell::Break:
        strOut += QLatin1Char('\n');
        break;
    default:
        strOut += QLatin1Char('<') + BoxText(cell) + QLatin1Char('>');
        break;
    }
}

int CLogCodec::UnsettledTail(const unsigned char* p, int nCount, bool bUtf8, ELineEnds eEnds)
{
    if (nCount <= 0)
        return 0;
    if (p[nCount - 1] == '\r')
        return eEnds == ELineEnds::CrLf ? 1 : 0; // as a lone CR it breaks the same as in a pair
    if (!bUtf8)
        return 0;
    // A lead byte in the last three, with too few continuation bytes after it.
    for (int n = 1; n <= std::min(3, nCount); ++n) {
        const unsigned char nByte = p[nCount - n];
        if (IsContinuation(nByte))
            continue;
        const int nLength = nByte >= 0xF0 ? 4 : nByte >= 0xE0 ? 3 : nByte >= 0xC2 ? 2 : 1;
        return nLength > n && nByte <= 0xF4 ? n : 0;
    }
    return 0;
}

QString CLogCodec::BytesToText(const QByteArray& baBytes, bool bUtf8, ELineEnds eEnds)
{
    QString str;
    str.reserve(baBytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(baBytes.constData());
    const qsizetype nSize = baBytes.size();
    for (qsizetype i = 0; i < nSize;) {
        const SLogCell cell = Decode(p + i, int(std::min<qsizetype>(4, nSize - i)), bUtf8, eEnds);
        i += cell.m_nBytes;
        switch (cell.m_eKind) {
        case SLogCell::Break:
            str += QLatin1Char('\n');
            break;
        case SLogCell::Invalid:
            str += QChar(QChar::ReplacementCharacter);
            break;
        case SLogCell::Named:
            if (cell.m_nChar < 0x20) {
                str += QChar(char16_t(g_chPictures + cell.m_nChar));
                break;
            }
            if (cell.m_nChar == 0x7F) {
                str += QChar(char16_t(g_chDeletePicture));
                break;
            }
            [[fallthrough]];
        default:
            str += QString::fromUcs4(&cell.m_nChar, 1);
            break;
        }
    }
    return str;
}

QByteArray CLogCodec::TextToBytes(const QString& strText)
{
    QByteArray ba;
    ba.reserve(strText.size());
    qsizetype nRun = 0; // start of the characters not yet encoded
    const auto flush
        = [&](qsizetype nEnd) { ba += QStringView(strText).mid(nRun, nEnd - nRun).toUtf8(); };
    for (qsizetype i = 0; i < strText.size(); ++i) {
        const char16_t c = strText[i].unicode();
        const bool bLineEnd = c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator
            || c == QChar::LineSeparator;
        const bool bPicture
            = (c >= g_chPictures && c < g_chPictures + 0x20) || c == g_chDeletePicture;
        if (!bLineEnd && !bPicture)
            continue;
        flush(i);
        if (bLineEnd) {
            ba += "\r\n";
            if (c == u'\r' && i + 1 < strText.size() && strText[i + 1] == u'\n')
                ++i;
        } else {
            ba += char(c == g_chDeletePicture ? 0x7F : c - g_chPictures);
        }
        nRun = i + 1;
    }
    flush(strText.size());
    return ba;
}
