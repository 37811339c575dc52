#pragma once
// What the 1 GiB benchmarks share: a day of device output, and their arguments.
#include <QByteArray>
#include <QDir>
#include <QStringList>

#include <algorithm>
#include <cstdint>

constexpr int64_t g_nGiB = int64_t(1) << 30;

// 64 KiB of numbered 80-byte lines ended CR LF, of varied printable bytes.
inline QByteArray DeviceLines()
{
    QByteArray ba;
    for (int n = 0; ba.size() < 64 * 1024; ++n) {
        QByteArray baLine = QByteArray::number(n).rightJustified(8, '0') + ' ';
        while (baLine.size() < 78)
            baLine += char('!' + (baLine.size() + n) % 90);
        ba += baLine + "\r\n";
    }
    return ba;
}

// [DIR] [--rounds N]: where the gigabyte goes (the temporary folder if none), and how many
// alternated rounds.
struct SBenchArgs {
    int m_nRounds = 3;
    QString m_strDir = QDir::tempPath();
};

inline SBenchArgs ParseBenchArgs(const QStringList& args)
{
    SBenchArgs result;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            result.m_nRounds = std::max(1, args[++i].toInt());
        else
            result.m_strDir = args[i];
    }
    return result;
}
