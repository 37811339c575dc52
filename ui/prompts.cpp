#include "prompts.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class CWidgetPrompts final : public CPrompts {
public:
    void MessageBox(
        QWidget* pParent, const QString& strCaption, const QString& strText, bool bError) override
    {
        QMessageBox box(bError ? QMessageBox::Critical : QMessageBox::NoIcon, strCaption, strText,
            QMessageBox::Ok, pParent);
        box.exec();
    }

    void MessageBoxWithDetail(QWidget* pParent, const QString& strCaption, const QString& strText,
        const QString& strDetail, bool bError) override
    {
        QMessageBox box(bError ? QMessageBox::Critical : QMessageBox::NoIcon, strCaption, strText,
            QMessageBox::Ok, pParent);
        box.setInformativeText(strDetail);
        // The advice holds commands to copy.
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    }

    QString OpenFileName(QWidget* pParent, const QString& strFilter) override
    {
        return QFileDialog::getOpenFileName(pParent, QString(), QString(), strFilter);
    }

    QString SaveFileName(QWidget* pParent) override
    {
        return QFileDialog::getSaveFileName(pParent);
    }

    QString CaptureFileName(QWidget* pParent) override
    {
        return QFileDialog::getSaveFileName(pParent,
            QStringLiteral("Capture the wire to (a file there is appended to)"), QString(),
            QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    }
};

CWidgetPrompts g_widgetPrompts;
CPrompts* g_pPrompts = &g_widgetPrompts;

} // namespace

CPrompts& CPrompts::Instance()
{
    return *g_pPrompts;
}

void CPrompts::SetInstance(CPrompts* pPrompts)
{
    g_pPrompts = pPrompts ? pPrompts : &g_widgetPrompts;
}
