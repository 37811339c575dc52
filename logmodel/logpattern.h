#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// What Find looks for in the log's bytes: text as typed, encoded as the log is shown (UTF-8, or
// one byte per character), with or without regard to case; or bytes given in hex. Without regard
// to case, two characters match when Unicode folds them alike, so "k" also finds the Kelvin sign.
class CLogPattern {
public:
    // The most bytes a pattern may take.
    static constexpr int g_nMaxBytes = 1024;

    // False, with a reason for the operator, when there is nothing to look for or it cannot be in
    // the log (a character that one byte per character cannot hold, hex that is not hex).
    bool SetText(const QString& strText, bool bUtf8, bool bMatchCase, QString& strError);
    // Pairs of hex digits, separated or not by blanks, commas, colons or dashes; a byte may be
    // written 0x41 or \x41, and a lone digit is a byte of its own ("D A" is 0D 0A).
    bool SetHex(const QString& strHex, QString& strError);

    bool IsEmpty() const { return m_nMaxLength == 0; }
    // Bytes of the longest match (matches without regard to case may be shorter).
    int MaxLength() const { return m_nMaxLength; }

    // The length of the match that starts at p, or 0; nAvail bytes can be read there.
    int MatchAt(const unsigned char* p, int64_t nAvail) const;
    // The first (bLast: the last) match in p[0, nSize) that starts before nStarts: its start, or
    // -1; its length goes to *pLength.
    int64_t Find(
        const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast, int* pLength) const;

private:
    enum class EKind : uint8_t { Exact, Folded, Forms };

    void SetExact(const std::string& strBytes);
    int64_t FindExact(const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast) const;
    // Folded and Forms: starts where the first byte, and the byte at m_nSecondAt, can be what
    // they must be, each checked in full.
    int64_t FindCandidates(
        const unsigned char* p, int64_t nSize, int64_t nStarts, bool bLast, int* pLength) const;

    EKind m_eKind = EKind::Exact;
    int m_nMaxLength = 0;
    // Exact: the bytes. Folded: the bytes through m_abFold.
    std::string m_strBytes;
    int m_nRareAt = -1; // Exact: where its rarest byte is, if it has one seldom in text
    // Folded (every character one byte): each byte to the one that stands for its case class.
    unsigned char m_abFold[256] = {};
    // Forms: each character's ways to be written.
    std::vector<std::vector<std::string>> m_vecForms;
    // The bytes a match can start with, and those it can have at m_nSecondAt (-1: none looked at).
    std::string m_strFirst;
    std::string m_strSecond;
    int m_nSecondAt = -1;
    bool m_abFirst[256] = {};
    bool m_abSecond[256] = {};
};
