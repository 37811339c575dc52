#include "portwatch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

#include <string>

struct CPortWatch::SImpl {
    QFileSystemWatcher watcher;
};

CPortWatch::CPortWatch(QObject* pParent)
    : QObject(pParent)
    , m_pImpl(std::make_unique<SImpl>())
{
    connect(&m_pImpl->watcher, &QFileSystemWatcher::directoryChanged, this, &CPortWatch::Changed);
}

CPortWatch::~CPortWatch() = default;

void CPortWatch::Clear()
{
    QFileSystemWatcher& watcher = m_pImpl->watcher;
    if (!watcher.directories().isEmpty())
        watcher.removePaths(watcher.directories());
}

void CPortWatch::Watch(const CPortRoots& roots)
{
    // Folders that appear later (serial/by-id comes with the first adapter) join on a rescan.
    QFileSystemWatcher& watcher = m_pImpl->watcher;
    QStringList dirs;
    for (const std::string& strDir : { roots.strDev, roots.strDev + "/serial",
             roots.strDev + "/serial/by-id", roots.PortsDir() }) {
        const QString strPath = QString::fromStdString(strDir);
        if (QFileInfo(strPath).isDir() && !watcher.directories().contains(strPath))
            dirs << strPath;
    }
    if (!dirs.isEmpty())
        watcher.addPaths(dirs);
}
