#include "logpattern.h"

#include <QChar>
#include <QList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// memmem where the C library has it (glibc's is vectorised); Windows' has none.
const void* FindBytes(const void* pHay, size_t nHay, const void* pNeedle, size_t nNeedle)
{
#ifdef _WIN32
    const auto* pBegin = static_cast<const unsigned char*>(pHay);
    const auto* pFrom = static_cast<const unsigned char*>(pNeedle);
    const auto* pHit = std::search(pBegin, pBegin + nHay,
        std::boyer_moore_horspool_searcher<const unsigned char*>(pFrom, pFrom + nNeedle));
    return pHit == pBegin + nHay ? nullptr : pHit;
#else
    return memmem(pHay, nHay, pNeedle, nNeedle);
#endif
}

// (fold, c) for every character c that case folding changes, by fold: the characters that fold
// to a given one. About 1,500 pairs, found once.
const std::vector<std::pair<char32_t, char32_t>>& FoldedFrom()
{
    static const std::vector<std::pair<char32_t, char32_t>> g_vecPairs = [] {
        std::vector<std::pair<char32_t, char32_t>> vec;
        for (char32_t c = 0; c <= 0x10FFFF; ++c) {
            if (c == 0xD800)
                c = 0xE000; // surrogates are no characters
            const char32_t nFold = QChar::toCaseFolded(c);
            if (nFold != c)
                vec.emplace_back(nFold, c);
        }
        std::sort(vec.begin(), vec.end());
        return vec;
    }();
    return g_vecPairs;
}

std::string Utf8(char32_t c)
{
    return QString::fromUcs4(&c, 1).toStdString();
}

// The ways one character can be written when case does not count.
std::vector<std::string> CaseForms(char32_t c, bool bUtf8)
{
    const char32_t nFold = QChar::toCaseFolded(c);
    std::vector<std::string> vec;
    if (!bUtf8) {
        for (char32_t x = 0; x < 0x100; ++x)
            if (QChar::toCaseFolded(x) == nFold)
                vec.emplace_back(1, char(x));
        return vec;
    }
    vec.push_back(Utf8(nFold));
    const auto& pairs = FoldedFrom();
    for (auto it = std::lower_bound(pairs.begin(), pairs.end(), std::make_pair(nFold, char32_t(0)));
         it != pairs.end() && it->first == nFold; ++it)
        vec.push_back(Utf8(it->second));
    return vec;
}

int HexDigit(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

bool CLogPattern::SetText(const QString& strText, bool bUtf8, bool bMatchCase, QString& strError)
{
    *this = CLogPattern();
    if (strText.isEmpty()) {
        strError = QStringLiteral("Type what to find.");
        return false;
    }
    std::vector<std::vector<std::string>> vecForms;
    bool bOneByte = true;
    bool bOneForm = true;
    for (char32_t c : strText.toUcs4()) {
        if (!bUtf8 && c > 0xFF) {
            strError = QStringLiteral("\"%1\" cannot be in a log shown one byte per character "
                                      "(View > Latin-1).")
                           .arg(QString::fromUcs4(&c, 1));
            return false;
        }
        if (bMatchCase)
            vecForms.push_back({ bUtf8 ? Utf8(c) : std::string(1, char(c)) });
        else
            vecForms.push_back(CaseForms(c, bUtf8));
        int nLongest = 0;
        for (const std::string& str : vecForms.back()) {
            bOneByte = bOneByte && str.size() == 1;
            nLongest = std::max(nLongest, int(str.size()));
        }
        bOneForm = bOneForm && vecForms.back().size() == 1;
        m_nMaxLength += nLongest;
    }
    if (m_nMaxLength > g_nMaxBytes) {
        m_nMaxLength = 0;
        strError = QStringLiteral("Too long to find: %1 bytes at most.").arg(g_nMaxBytes);
        return false;
    }
    if (bOneForm) {
        std::string strBytes;
        for (const auto& vec : vecForms)
            strBytes += vec.front();
        SetExact(strBytes);
        return true;
    }
    // Where a match must have certain bytes: at its start, and at the start of its second
    // character if the first has forms of one length (of its last if all are one byte).
    const auto firstBytes = [](const std::vector<std::string>& vec) {
        std::string str;
        for (const std::string& strForm : vec)
            if (str.find(strForm[0]) == std::string::npos)
                str += strForm[0];
        return str;
    };
    m_strFirst = firstBytes(vecForms.front());
    bool bFixed = true;
    for (const std::string& str : vecForms.front())
        bFixed = bFixed && str.size() == vecForms.front().front().size();
    if (bOneByte && vecForms.size() > 1) {
        m_strSecond = firstBytes(vecForms.back());
        m_nSecondAt = int(vecForms.size()) - 1;
    } else if (bFixed && vecForms.size() > 1) {
        m_strSecond = firstBytes(vecForms[1]);
        m_nSecondAt = int(vecForms.front().front().size());
    }
    for (char c : m_strFirst)
        m_abFirst[static_cast<unsigned char>(c)] = true;
    for (char c : m_strSecond)
        m_abSecond[static_cast<unsigned char>(c)] = true;
    if (bOneByte) {
        // Every character is one byte: each byte stands for its case class, found by a table.
        m_eKind = EKind::Folded;
        for (int n = 0; n < 256; ++n)
            m_abFold[n] = static_cast<unsigned char>(n);
        for (const auto& vec : vecForms) {
            unsigned char nClass = 0xFF;
            for (const std::string& str : vec)
                nClass = std::min(nClass, static_cast<unsigned char>(str[0]));
            for (const std::string& str : vec)
                m_abFold[static_cast<unsigned char>(str[0])] = nClass;
            m_strBytes += char(nClass);
        }
        return true;
    }
    m_eKind = EKind::Forms;
    m_vecForms = std::move(vecForms);
    return true;
}

bool CLogPattern::SetHex(const QString& strHex, QString& strError)
{
    *this = CLogPattern();
    std::string strBytes;
    const qsizetype nSize = strHex.size();
    for (qsizetype i = 0; i < nSize;) {
        const QChar ch = strHex[i];
        if (ch.isSpace() || ch == u',' || ch == u':' || ch == u'-') {
            ++i;
            continue;
        }
        // A prefix of one byte: 0x41 or \x41.
        if ((ch == u'0' || ch == u'\\') && i + 2 < nSize
            && (strHex[i + 1] == u'x' || strHex[i + 1] == u'X') && HexDigit(strHex[i + 2]) >= 0)
            i += 2;
        qsizetype nEnd = i;
        while (nEnd < nSize && HexDigit(strHex[nEnd]) >= 0)
            ++nEnd;
        if (nEnd == i) {
            strError = QStringLiteral("\"%1\" is not a hex digit.").arg(strHex[i]);
            return false;
        }
        if ((nEnd - i) % 2 != 0 && nEnd - i > 1) {
            strError = QStringLiteral("\"%1\" has an odd number of hex digits.")
                           .arg(strHex.mid(i, nEnd - i));
            return false;
        }
        if (nEnd - i == 1)
            strBytes += char(HexDigit(strHex[i]));
        for (qsizetype k = i; k + 1 < nEnd; k += 2)
            strBytes += char(HexDigit(strHex[k]) * 16 + HexDigit(strHex[k + 1]));
        i = nEnd;
    }
    if (strBytes.empty()) {
        strError = QStringLiteral("Type the bytes to find in hex, e.g. 0D 0A.");
        return false;
    }
    if (strBytes.size() > size_t(g_nMaxBytes)) {
        strError = QStringLiteral("Too long to find: %1 bytes at most.").arg(g_nMaxBytes);
        return false;
    }
    SetExact(strBytes);
    return true;
}

void CLogPattern::SetExact(const std::string& strBytes)
{
    m_eKind = EKind::Exact;
    m_strBytes = strBytes;
    m_nMaxLength = int(strBytes.size());
    // The rarest byte of the pattern in a log of text: bytes no UTF-8 holds, then control codes
    // (but line ends, tabs and ESC), then lead bytes of longer characters, then continuation
    // bytes. Printable ASCII is common: none of it is looked for alone.
    const auto rarity = [](unsigned char c) {
        if (c >= 0xF5 || c == 0xC0 || c == 0xC1)
            return 6;
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != 0x1B) || c == 0x7F)
            return 5;
        return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : c >= 0x80 ? 1 : 0;
    };
    int nRarest = 0;
    m_nRareAt = -1;
    for (size_t i = 0; i < strBytes.size(); ++i) {
        const int nRarity = rarity(static_cast<unsigned char>(strBytes[i]));
        if (nRarity > nRarest) {
            nRarest = nRarity;
            m_nRareAt = int(i);
        }
    }
}

int CLogPattern::MatchAt(const unsigned char* p, int64_t nAvail) const
{
    if (nAvail < 1 || IsEmpty())
        return 0;
    switch (m_eKind) {
    case EKind::Exact:
        return nAvail >= m_nMaxLength && std::memcmp(p, m_strBytes.data(), m_strBytes.size()) == 0
            ? m_nMaxLength
            : 0;
    case EKind::Folded:
        if (nAvail < m_nMaxLength)
            return 0;
        for (int j = 0; j < m_nMaxLength; ++j)
            if (m_abFold[p[j]] != static_cast<unsigned char>(m_strBytes[size_t(j)]))
                return 0;
        return m_nMaxLength;
    case EKind::Forms:
        break;
    }
    // Forms of one character are different characters' UTF-8: at most one of them can match.
    int64_t n = 0;
    for (const auto& vecForms : m_vecForms) {
        bool bMatched = false;
        for (const std::string& str : vecForms) {
            const auto nLength = int64_t(str.size());
            if (nAvail - n >= nLength && std::memcmp(p + n, str.data(), str.size()) == 0) {
                n += nLength;
                bMatched = true;
                break;
            }
        }
        if (!bMatched)
            return 0;
    }
    return int(n);
}

int64_t CLogPattern::Find(
    const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast, int* pLength) const
{
    if (IsEmpty() || nSize <= 0 || nStarts <= 0)
        return -1;
    int64_t nFound = -1;
    switch (m_eKind) {
    case EKind::Exact:
        nFound = FindExact(p, nSize, nStarts, bLast);
        break;
    case EKind::Folded:
    case EKind::Forms:
        return FindCandidates(p, nSize, nStarts, bLast, pLength);
    }
    if (nFound >= 0 && pLength)
        *pLength = m_nMaxLength;
    return nFound;
}

int64_t CLogPattern::FindExact(
    const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast) const
{
    const int64_t m = m_nMaxLength;
    const int64_t n = std::min(nSize, nStarts + m - 1);
    const auto* pNeedle = reinterpret_cast<const unsigned char*>(m_strBytes.data());
    int64_t nLast = -1;
    int64_t i = 0;
    // A byte that text logs seldom hold is looked for alone, at the speed of memchr, while it is
    // as seldom as hoped; where it is not (a log of that very kind) the general search goes on.
    if (m_nRareAt >= 0) {
        int64_t nCandidates = 0;
        while (i + m <= n) {
            const void* pRare
                = std::memchr(p + i + m_nRareAt, pNeedle[m_nRareAt], size_t(n - m + 1 - i));
            if (!pRare)
                return nLast;
            i = static_cast<const unsigned char*>(pRare) - p - m_nRareAt;
            if (std::memcmp(p + i, pNeedle, size_t(m)) == 0) {
                if (!bLast)
                    return i;
                nLast = i;
            }
            ++i;
            if (++nCandidates > 64 && i < nCandidates * 256)
                break;
        }
    }
    while (i + m <= n) {
        const void* pHit = FindBytes(p + i, size_t(n - i), pNeedle, size_t(m));
        if (!pHit)
            break;
        const int64_t nHit = static_cast<const unsigned char*>(pHit) - p;
        if (!bLast)
            return nHit;
        nLast = nHit;
        i = nHit + 1;
    }
    return nLast;
}

int64_t CLogPattern::FindCandidates(
    const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast, int* pLength) const
{
    const int64_t nEndStart = std::min(nStarts, nSize);
    const int64_t k = std::max(m_nSecondAt, 0);
    int64_t nLast = -1;
    int nLastLength = 0;
    // True when the search is over.
    const auto check = [&](int64_t i) {
        const int nLength = MatchAt(p + i, nSize - i);
        if (nLength == 0)
            return false;
        nLast = i;
        nLastLength = nLength;
        return !bLast;
    };
    int64_t i = 0;
    bool bDone = false;
#ifdef __SSE2__
    // Sixteen starts at a time: the two bytes that must be among a few values.
    if (m_strFirst.size() <= 4 && m_strSecond.size() <= 4) {
        const auto anyOf = [](const std::string& str, __m128i v) {
            __m128i m = _mm_setzero_si128();
            for (char c : str)
                m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
            return m;
        };
        for (; !bDone && i + 16 <= nEndStart && i + k + 16 <= nSize; i += 16) {
            __m128i m = anyOf(m_strFirst, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
            if (m_nSecondAt > 0)
                m = _mm_and_si128(m,
                    anyOf(
                        m_strSecond, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k))));
            for (unsigned nMask = unsigned(_mm_movemask_epi8(m)); nMask != 0 && !bDone;
                 nMask &= nMask - 1)
                bDone = check(i + __builtin_ctz(nMask));
        }
    }
#endif
    for (; !bDone && i < nEndStart; ++i) {
        if (m_abFirst[p[i]] && (m_nSecondAt <= 0 || (i + k < nSize && m_abSecond[p[i + k]])))
            bDone = check(i);
    }
    if (nLast >= 0 && pLength)
        *pLength = nLastLength;
    return nLast;
}
