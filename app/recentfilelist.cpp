#include "recentfilelist.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const QString g_strSection = QStringLiteral("Recent File List");
}

CRecentFileList::CRecentFileList(int nSize)
    : m_nSize(nSize)
{ }

void CRecentFileList::Load()
{
    QSettings settings;
    settings.beginGroup(g_strSection);
    m_strFiles.clear();
    for (int i = 1; i <= m_nSize; ++i) {
        const QString strPath = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!strPath.isEmpty())
            m_strFiles << strPath;
    }
}

void CRecentFileList::Add(const QString& strPath)
{
    const QString strFull = QFileInfo(strPath).absoluteFilePath();
    m_strFiles.removeAll(strFull);
    m_strFiles.prepend(strFull);
    while (m_strFiles.size() > m_nSize)
        m_strFiles.removeLast();
    Save();
}

void CRecentFileList::Save() const
{
    QSettings settings;
    settings.beginGroup(g_strSection);
    settings.remove(QString());
    for (int i = 0; i < m_strFiles.size(); ++i)
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_strFiles[i]);
}
