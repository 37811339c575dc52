// Ctrl+S of a 1 GiB log: the save as it is (the new file flushed to the disk before it replaces
// the old one, then the folder), the same save without the two flushes, and a plain write of the
// same bytes with an fsync after it, alternated over rounds in one run. Each starts with nothing
// unwritten on the disk (sync). Prints figures, never fails on time.
#include "../benchprompts.h"
#include "../gigabytelog.h"
#include "bremdoc.h"
#include "bremview.h"
#include "fileops.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// The save without what makes it survive a power cut.
class CNoFlushOps : public CFileOps {
public:
    bool SyncFile(int) override { return true; }
    bool SyncFolder(const std::string&) override { return true; }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const SBenchArgs args = ParseBenchArgs(QApplication::arguments());
    const int nRounds = args.m_nRounds;
    const QString& strDir = args.m_strDir;
    CBenchPrompts prompts;
    CPrompts::SetInstance(&prompts);
    CBremView view;
    view.resize(900, 600);
    view.show();
    const QByteArray baChunk = DeviceLines();
    for (int64_t n = 0; n < g_nGiB; n += baChunk.size())
        view.AppendRaw(reinterpret_cast<const unsigned char*>(baChunk.constData()),
            uint32_t(std::min<int64_t>(baChunk.size(), g_nGiB - n)));
    view.FlushPending();
    CBremDoc doc(&view, nullptr);
    const QString strOut = strDir + QStringLiteral("/bench-save-1g.log");
    const std::string strOutPath = QFile::encodeName(strOut).toStdString();
    CNoFlushOps noFlush;

    std::printf("Ctrl+S of a 1 GiB log (80-byte lines) to %s, %d rounds, each from a clean disk "
                "cache (sync)\n",
        qPrintable(strDir), nRounds);
    std::printf("%-34s %10s\n", "", "ms");
    std::map<std::string, std::vector<double>> mapMs;
    const auto measure = [&](const char* szName, const std::function<bool()>& fn) {
        QFile::remove(strOut);
        sync();
        QElapsedTimer timer;
        timer.start();
        const bool bOk = fn();
        const double dMs = timer.nsecsElapsed() / 1e6;
        mapMs[szName].push_back(dMs);
        std::printf("%-34s %10.0f%s\n", szName, dMs, bOk ? "" : "  FAILED");
        std::fflush(stdout);
    };
    const auto save = [&] {
        QString strError;
        return doc.OnSaveDocument(strOut, strError) && QFile(strOut).size() == g_nGiB;
    };
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        const auto flushed = [&] { measure("save, flushed (as Brem saves)", save); };
        const auto unflushed = [&] {
            CFileOps::SetInstance(&noFlush);
            measure("save without the flushes", save);
            CFileOps::SetInstance(nullptr);
        };
        if (nRound % 2 == 0) {
            flushed();
            unflushed();
        } else {
            unflushed();
            flushed();
        }
        measure("plain write + fsync (reference)", [&] {
            QFile file(strOut);
            if (!file.open(QIODevice::WriteOnly))
                return false;
            for (int64_t n = 0; n < g_nGiB; n += baChunk.size())
                file.write(baChunk.constData(), std::min<int64_t>(baChunk.size(), g_nGiB - n));
            return file.flush() && fsync(file.handle()) == 0;
        });
    }
    std::printf("\nover the rounds (min - max, ms):\n");
    for (const auto& [strName, vec] : mapMs)
        std::printf("  %-34s %6.0f - %6.0f\n", strName.c_str(),
            *std::min_element(vec.begin(), vec.end()), *std::max_element(vec.begin(), vec.end()));
    // Each round's own ratio: the rounds' noise does not cancel across rounds.
    const std::vector<double>& vecFlushed = mapMs["save, flushed (as Brem saves)"];
    const std::vector<double>& vecBare = mapMs["save without the flushes"];
    std::vector<double> vecRatio;
    for (size_t n = 0; n < vecFlushed.size() && n < vecBare.size(); ++n)
        vecRatio.push_back(vecFlushed[n] / vecBare[n]);
    std::printf("  %-34s %6.2f - %6.2f\n", "flushed / without, per round",
        *std::min_element(vecRatio.begin(), vecRatio.end()),
        *std::max_element(vecRatio.begin(), vecRatio.end()));
    QFile::remove(strOut);
    CPrompts::SetInstance(nullptr);
    return 0;
}
