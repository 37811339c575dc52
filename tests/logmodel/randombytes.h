#pragma once
// Bytes for the log's tests, biased towards the ones that matter.
#include <QByteArray>
#include <QRandomGenerator>

inline QByteArray RandomBytes(QRandomGenerator& random, qsizetype nSize)
{
    // Biased towards the bytes that matter: CR, LF, NUL, UTF-8 lead and continuation bytes.
    static const char g_achHot[] = { '\r', '\n', '\0', '\t', '\x1b', '\xe4', '\xb8', '\xad', '\xc2',
        '\x85', '\xf0', '\x9f', '\xed', '\xa0', '\xff', 'a' };
    QByteArray ba(nSize, '\0');
    for (char& c : ba)
        c = random.bounded(3) == 0 ? g_achHot[random.bounded(int(sizeof g_achHot))]
                                   : char(random.bounded(256));
    return ba;
}
