#pragma once

#include "bremdoc.h"
#include "recentfilelist.h"

#include <QStringList>

#include <memory>

class CMainFrame;

// Start-up: settings, the window with its menus and accelerators, the document, the command line.
class CBremApp {
public:
    CBremApp();
    ~CBremApp();

    // False when the program must end: the window could not be made or a file named on the
    // command line could not be read (said on stderr, and in a box where a display shows one).
    bool InitInstance(const QStringList& args);
    void OnAppAbout();

    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }
    CBremDoc* Document() const { return m_pDoc.get(); }

    static const char* const CAPTION;

private:
    void CreateMenus();

    CRecentFileList m_recent;
    std::unique_ptr<CMainFrame> m_pMainFrame;
    std::unique_ptr<CBremDoc> m_pDoc;
};
