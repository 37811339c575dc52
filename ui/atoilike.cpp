#include "atoilike.h"

#include <climits>

int AtoiLike(const std::string& strText, std::size_t nFrom)
{
    std::size_t i = nFrom;
    const std::size_t n = strText.size();
    while (i < n
        && (strText[i] == ' ' || strText[i] == '\t' || strText[i] == '\n' || strText[i] == '\r'
            || strText[i] == '\v' || strText[i] == '\f'))
        ++i;
    bool bNegative = false;
    if (i < n && (strText[i] == '+' || strText[i] == '-')) {
        bNegative = strText[i] == '-';
        ++i;
    }
    long long nValue = 0;
    for (; i < n && strText[i] >= '0' && strText[i] <= '9'; ++i) {
        nValue = nValue * 10 + (strText[i] - '0');
        if (nValue > static_cast<long long>(INT_MAX) + 1)
            nValue = static_cast<long long>(INT_MAX) + 1;
    }
    if (bNegative)
        return nValue > INT_MAX ? INT_MIN : static_cast<int>(-nValue);
    return nValue > INT_MAX ? INT_MAX : static_cast<int>(nValue);
}
