#include "bremapp.h"

#include "aboutdlg.h"
#include "bremview.h"
#include "capturecontrol.h"
#include "findbar.h"
#include "mainframe.h"
#include "prompts.h"
#include "statusbar.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>

#include <cstdio>

const char* const CBremApp::CAPTION = "Quarnel DTU Firmware Upgrade Tool V1.1";

CBremApp::CBremApp()
    : m_recent(4)
{ }

CBremApp::~CBremApp()
{
    // The document refers to the view, which the window owns.
    m_pDoc.reset();
    m_pMainFrame.reset();
}

bool CBremApp::InitInstance(const QStringList& args)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Brem"));
    m_recent.Load();

    m_pMainFrame = std::make_unique<CMainFrame>();
    m_pDoc = std::make_unique<CBremDoc>(m_pMainFrame->GetActiveView(), &m_recent);
    CreateMenus();
    m_pDoc->OnNewDocument();

    // A plain path opens that file into the log; other arguments are Qt's or ignored.
    QString strFile;
    for (qsizetype i = 1; i < args.size() && strFile.isEmpty(); ++i) {
        if (!args[i].startsWith(QLatin1Char('-')))
            strFile = args[i];
    }
    if (!strFile.isEmpty()) {
        QString strError;
        if (!m_pDoc->OnOpenDocument(strFile, strError)) {
            std::fprintf(stderr, "brem: %s\n", strError.toLocal8Bit().constData());
            const QString strPlatform = QGuiApplication::platformName();
            if (strPlatform != QLatin1String("offscreen")
                && strPlatform != QLatin1String("minimal"))
                CPrompts::Instance().MessageBox(nullptr, QStringLiteral("Brem"), strError, true);
            return false;
        }
    }

    m_pMainFrame->show();
    m_pMainFrame->setWindowTitle(QString::fromLatin1(CAPTION));
    return true;
}

void CBremApp::OnAppAbout()
{
    CAboutDlg dlg(m_pMainFrame.get());
    dlg.exec();
}

void CBremApp::CreateMenus()
{
    CMainFrame* pFrame = m_pMainFrame.get();
    CBremView* pView = pFrame->GetActiveView();
    const auto add = [pFrame](QMenu* pMenu, const QString& strText, const QString& strPrompt) {
        QAction* pAction = pMenu ? pMenu->addAction(strText) : new QAction(strText, pFrame);
        pAction->setStatusTip(strPrompt);
        if (!pMenu)
            pFrame->addAction(pAction);
        return pAction;
    };

    CBremDoc* pDoc = m_pDoc.get();
    QMenu* pFile = pFrame->menuBar()->addMenu(QStringLiteral("File(&F)"));
    QObject::connect(add(pFile, QStringLiteral("Save with Timestamps...(&T)"),
                         QStringLiteral("Save the log with the time each line arrived")),
        &QAction::triggered, pFrame, [pDoc, pFrame] { pDoc->OnFileSaveWithTimestamps(pFrame); });
    pFrame->m_pCapture->AddMenuItems(pFile, pFile->addSeparator());
    QObject::connect(add(pFile, QStringLiteral("Exit(&X)"), QStringLiteral("Exit")),
        &QAction::triggered, pFrame, &QWidget::close);

    QMenu* pViewMenu = pFrame->menuBar()->addMenu(QStringLiteral("View(&V)"));
    add(pViewMenu, QStringLiteral("ToolBar(&T)"), QStringLiteral("Display"));
    QAction* pStatus = add(pViewMenu, QStringLiteral("Status Bar(&S)"), QStringLiteral("Display"));
    pStatus->setCheckable(true);
    pStatus->setChecked(true);
    QObject::connect(pStatus, &QAction::toggled, pFrame->m_pStatusBar, &QWidget::setVisible);
    pViewMenu->addSeparator();
    const auto choice
        = [&](const char* szText, const char* szPrompt, void (CBremView::*pSet)(bool)) {
              QAction* pAction = add(pViewMenu, QLatin1String(szText), QLatin1String(szPrompt));
              pAction->setCheckable(true);
              QObject::connect(pAction, &QAction::toggled, pView, pSet);
          };
    QAction* pLineEnds = add(pViewMenu, QStringLiteral("Line Ends as Received(&R)"),
        QStringLiteral("Keep every received byte (NUL, CR and LF too) and break lines at CR LF, "
                       "LF or CR; Ctrl+S saves exactly what was received and typed"));
    pLineEnds->setCheckable(true);
    QObject::connect(pLineEnds, &QAction::toggled, pView,
        [pView](bool bOn) { pView->SetLineEnds(bOn ? ELineEnds::AsReceived : ELineEnds::CrLf); });
    choice("Latin-1(&L)", "Show each byte as one character instead of decoding UTF-8",
        &CBremView::SetLatin1);
    choice("Hex(&X)", "Show the log as offsets, hex bytes and text", &CBremView::SetHex);
    choice("Timestamps(&M)", "Show when each line arrived", &CBremView::SetTimestamps);
    pFrame->m_pFindBar->AddMenu(pFrame->menuBar(), pViewMenu->menuAction());

    pFrame->CreatePortMenu(pFrame->menuBar());

    QMenu* pHelp = pFrame->menuBar()->addMenu(QStringLiteral("Help(&H)"));
    QObject::connect(
        add(pHelp, QStringLiteral("About Lomaris(&A)..."), QStringLiteral("Display Version ")),
        &QAction::triggered, pFrame, [this] { OnAppAbout(); });

    // The accelerator table. Keys that a focused log view takes for itself (Ctrl+C...) do the
    // same thing there, so either way the operator gets the command.
    const auto accel = [&](const char* szName, const QList<QKeySequence>& keys) {
        QAction* pAction = add(nullptr, QLatin1String(szName), QString());
        pAction->setObjectName(QLatin1String(szName));
        pAction->setShortcuts(keys);
        pAction->setShortcutContext(Qt::WindowShortcut);
        return pAction;
    };
    QObject::connect(accel("ID_FILE_NEW", { QKeySequence(Qt::CTRL | Qt::Key_N) }),
        &QAction::triggered, pFrame, [pDoc] { pDoc->OnNewDocument(); });
    QObject::connect(accel("ID_FILE_OPEN", { QKeySequence(Qt::CTRL | Qt::Key_O) }),
        &QAction::triggered, pFrame, [pDoc, pFrame] { pDoc->OnFileOpen(pFrame); });
    QObject::connect(accel("ID_FILE_SAVE", { QKeySequence(Qt::CTRL | Qt::Key_S) }),
        &QAction::triggered, pFrame, [pDoc, pFrame] { pDoc->OnFileSave(pFrame); });
    const auto edit
        = [&](const char* szName, const QList<QKeySequence>& keys, void (CBremView::*pCommand)()) {
              QObject::connect(accel(szName, keys), &QAction::triggered, pView, pCommand);
          };
    edit("ID_EDIT_UNDO",
        { QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace) },
        &CBremView::Undo);
    edit("ID_EDIT_CUT",
        { QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete) },
        &CBremView::Cut);
    edit("ID_EDIT_COPY",
        { QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert) },
        &CBremView::Copy);
    edit("ID_EDIT_PASTE",
        { QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert) },
        &CBremView::Paste);
    // One pane only: next and previous pane have nothing to go to.
    accel("ID_NEXT_PANE", { QKeySequence(Qt::Key_F6) });
    accel("ID_PREV_PANE", { QKeySequence(Qt::SHIFT | Qt::Key_F6) });
}
