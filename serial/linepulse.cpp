#include "linepulse.h"

#include "dcb.h"
#include "serialport.h"

#include <chrono>
#include <thread>

namespace {

bool ParseLevel(const std::string& str, unsigned& nLevel)
{
    if (str == "1" || str == "on")
        nLevel = 1;
    else if (str == "0" || str == "off")
        nLevel = 0;
    else
        return false;
    return true;
}

bool ParseMs(const std::string& str, unsigned& nMs)
{
    if (str.empty() || str.size() > 6 || str.find_first_not_of("0123456789") != std::string::npos)
        return false;
    nMs = static_cast<unsigned>(std::stoul(str));
    return nMs > 0;
}

std::string StepText(const SPulseStep& step)
{
    static const char* const aNames[] = { "dtr", "rts", "wait", "break" };
    return std::string(aNames[step.eKind]) + "=" + std::to_string(step.nValue);
}

void Wait(unsigned nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

} // namespace

bool ParseLinePulse(
    const std::string& strSteps, std::vector<SPulseStep>& steps, std::string& strError)
{
    steps.clear();
    uint64_t nTotalMs = 0;
    size_t nStart = 0;
    while (nStart <= strSteps.size()) {
        size_t nEnd = strSteps.find(',', nStart);
        if (nEnd == std::string::npos)
            nEnd = strSteps.size();
        const std::string strStep = strSteps.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        const size_t nEq = strStep.find('=');
        const std::string strKey = strStep.substr(0, nEq);
        const std::string strValue = nEq == std::string::npos ? "" : strStep.substr(nEq + 1);
        SPulseStep step { SPulseStep::DTR, 0 };
        bool bOk;
        if (strKey == "dtr" || strKey == "rts") {
            step.eKind = strKey == "dtr" ? SPulseStep::DTR : SPulseStep::RTS;
            bOk = ParseLevel(strValue, step.nValue);
        } else if (strKey == "wait" || strKey == "break") {
            step.eKind = strKey == "wait" ? SPulseStep::WAIT : SPulseStep::BREAK;
            bOk = ParseMs(strValue, step.nValue);
            nTotalMs += step.nValue;
        } else {
            bOk = false;
        }
        if (!bOk) {
            strError = "'" + strStep
                + "' is not a step: dtr=0|1, rts=0|1, wait=MS or break=MS, separated by commas";
            return false;
        }
        if (nTotalMs > g_nPulseMaxMs) {
            strError
                = "the waits and breaks add up to over " + std::to_string(g_nPulseMaxMs) + " ms";
            return false;
        }
        steps.push_back(step);
        if (steps.size() > g_nPulseMaxSteps) {
            strError = "more than " + std::to_string(g_nPulseMaxSteps) + " steps";
            return false;
        }
    }
    return true;
}

bool RunLinePulse(CSerialPort& port, const std::vector<SPulseStep>& steps, std::string& strFailed)
{
    for (const SPulseStep& step : steps) {
        bool bOk = true;
        switch (step.eKind) {
        case SPulseStep::DTR:
            bOk = port.EscapeCommFunction(step.nValue ? SETDTR : CLRDTR);
            break;
        case SPulseStep::RTS:
            bOk = port.EscapeCommFunction(step.nValue ? SETRTS : CLRRTS);
            break;
        case SPulseStep::WAIT:
            Wait(step.nValue);
            break;
        case SPulseStep::BREAK:
            bOk = port.EscapeCommFunction(SETBREAK);
            if (bOk) {
                Wait(step.nValue);
                bOk = port.EscapeCommFunction(CLRBREAK);
            }
            break;
        }
        if (!bOk) {
            strFailed = StepText(step);
            return false;
        }
    }
    return true;
}
