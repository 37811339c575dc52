#include "filefilter.h"

#include <QStringList>

QString QtFileFilter(const std::string& strFilter)
{
    const QStringList parts = QString::fromLocal8Bit(strFilter.c_str()).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString strName = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (strName.isEmpty() && patterns.isEmpty())
            break;
        for (QString& strPattern : patterns) {
            strPattern = strPattern.trimmed();
            if (strPattern == QLatin1String("*.*"))
                strPattern = QStringLiteral("*");
        }
        // Qt takes the patterns from the last parentheses of the name; give it ours instead.
        const qsizetype nParen = strName.indexOf(QLatin1Char('('));
        if (nParen >= 0)
            strName = strName.left(nParen).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(strName, patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}
