#pragma once

#include "downloadhost.h"

#include <optional>
#include <string>
#include <vector>

using CBytes = std::vector<unsigned char>;

// Records every call of the engine, in order, and answers the file dialog from a script.
class CRecordingHost : public CDownloadHost {
public:
    uint64_t WriteToPort(const unsigned char* pBytes, uint32_t nCount) override
    {
        if (m_bRefuseWrites) {
            m_vEvents.push_back("refused " + std::to_string(nCount));
            return 0;
        }
        m_vTx.emplace_back(pBytes, pBytes + nCount);
        m_vEvents.push_back("tx " + std::to_string(nCount));
        return m_vTx.size();
    }
    void AppendLine(const std::string& strText) override
    {
        m_vLines.push_back(strText);
        m_vEvents.push_back("line " + strText);
    }
    void AppendRaw(const unsigned char* pBytes, uint32_t nCount) override
    {
        m_vRaw.insert(m_vRaw.end(), pBytes, pBytes + nCount);
    }
    void SetProgressRange(uint32_t, uint32_t nUpper) override { m_nRangeHigh = nUpper; }
    void SetProgressPos(uint32_t nPos) override { m_nPos = nPos; }
    uintptr_t SetTimer(uintptr_t nIDEvent, unsigned nElapseMs) override
    {
        m_vEvents.push_back(
            "settimer " + std::to_string(nIDEvent) + " " + std::to_string(nElapseMs));
        m_bTimerRunning = true;
        return g_nTimerHandle;
    }
    void KillTimer(uintptr_t nIDEvent) override
    {
        m_vEvents.push_back("killtimer " + std::to_string(nIDEvent));
        m_bTimerRunning = false;
    }
    void MessageBox(const std::string& strText) override { m_vBoxes.push_back(strText); }
    bool RunOpenFileDialog(const std::string& strFilter, std::string& strPath) override
    {
        m_strFilter = strFilter;
        if (!m_optDialogAnswer)
            return false;
        strPath = *m_optDialogAnswer;
        return true;
    }
    void SetFilePathText(const std::string& strPath) override { m_vPathTexts.push_back(strPath); }
    int PortOpenFlag() const override { return m_nPortOpen; }
    void OnDownloadStep() override { ++m_nSteps; }
    void OnDownloadEnd(DownloadEnd eEnd) override { m_vEnds.push_back(eEnd); }

    // Not the timer id, so that a handle mixed up with the id shows.
    static constexpr uintptr_t g_nTimerHandle = 77;

    std::vector<CBytes> m_vTx;
    std::vector<std::string> m_vLines;
    std::vector<std::string> m_vEvents;
    CBytes m_vRaw;
    std::vector<std::string> m_vBoxes;
    std::vector<std::string> m_vPathTexts;
    std::optional<std::string> m_optDialogAnswer;
    std::string m_strFilter;
    uint32_t m_nRangeHigh = 0;
    uint32_t m_nPos = 0;
    bool m_bTimerRunning = false;
    int m_nPortOpen = 1;
    bool m_bRefuseWrites = false;
    int m_nSteps = 0;
    std::vector<DownloadEnd> m_vEnds;
};
