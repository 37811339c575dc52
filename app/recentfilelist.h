#pragma once

#include <QStringList>

// The most recently opened or saved log files, newest first, kept in the application's settings.
class CRecentFileList {
public:
    explicit CRecentFileList(int nSize);

    void Load();
    // Moves strPath to the front (dropping the oldest past the size) and saves the list.
    void Add(const QString& strPath);
    const QStringList& Files() const { return m_strFiles; }

private:
    void Save() const;

    int m_nSize;
    QStringList m_strFiles;
};
