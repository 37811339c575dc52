#include "bremviewaccessible.h"

#include "bremview.h"

#include <QScrollBar>

namespace {

QAccessibleInterface* Factory(const QString& strClass, QObject* pObject)
{
    if (strClass == QLatin1String("CBremView") && pObject && pObject->isWidgetType())
        return new CBremViewAccessible(static_cast<CBremView*>(pObject));
    return nullptr;
}

} // namespace

CBremViewAccessible::CBremViewAccessible(CBremView* pView)
    : QAccessibleWidget(pView, QAccessible::Terminal)
{ }

void CBremViewAccessible::Install()
{
    static bool g_bInstalled = false;
    if (!g_bInstalled)
        QAccessible::installFactory(Factory);
    g_bInstalled = true;
}

void CBremViewAccessible::Notify(CBremView* pView, const CLogTextWindow::SChange& change)
{
    if (change.IsEmpty())
        return;
    if (change.m_strRemoved.isEmpty()) {
        QAccessibleTextInsertEvent event(pView, change.m_nPos, change.m_strInserted);
        QAccessible::updateAccessibility(&event);
    } else if (change.m_strInserted.isEmpty()) {
        QAccessibleTextRemoveEvent event(pView, change.m_nPos, change.m_strRemoved);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextUpdateEvent event(
            pView, change.m_nPos, change.m_strRemoved, change.m_strInserted);
        QAccessible::updateAccessibility(&event);
    }
}

CBremView* CBremViewAccessible::View() const
{
    return static_cast<CBremView*>(widget());
}

const CLogTextWindow& CBremViewAccessible::Window() const
{
    return View()->TextWindow();
}

QAccessible::Role CBremViewAccessible::role() const
{
    return QAccessible::Terminal;
}

QString CBremViewAccessible::text(QAccessible::Text eText) const
{
    switch (eText) {
    case QAccessible::Name:
        return widget()->accessibleName().isEmpty() ? QStringLiteral("Device log")
                                                    : widget()->accessibleName();
    case QAccessible::Description:
        return QStringLiteral("What the device sent and the download's steps; while the port is "
                              "open, keys typed here go to the device");
    default:
        return QAccessibleWidget::text(eText);
    }
}

QAccessible::State CBremViewAccessible::state() const
{
    QAccessible::State st = QAccessibleWidget::state();
    st.multiLine = true;
    st.selectableText = true;
    st.focusable = true;
    return st;
}

void* CBremViewAccessible::interface_cast(QAccessible::InterfaceType eType)
{
    if (eType == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(eType);
}

void CBremViewAccessible::selection(int nSelection, int* pStart, int* pEnd) const
{
    *pStart = *pEnd = 0;
    if (nSelection != 0 || !View()->HasSelection())
        return;
    const CLogTextWindow& window = Window();
    *pStart = window.OffsetOf(std::min(View()->CaretPos(), View()->AnchorPos()));
    *pEnd = window.OffsetOf(std::max(View()->CaretPos(), View()->AnchorPos()));
}

int CBremViewAccessible::selectionCount() const
{
    return View()->HasSelection() ? 1 : 0;
}

void CBremViewAccessible::addSelection(int nStart, int nEnd)
{
    setSelection(0, nStart, nEnd);
}

void CBremViewAccessible::removeSelection(int nSelection)
{
    if (nSelection == 0)
        View()->SetSelection(View()->CaretPos(), View()->CaretPos());
}

void CBremViewAccessible::setSelection(int nSelection, int nStart, int nEnd)
{
    if (nSelection == 0)
        View()->SetSelection(Window().PosOf(nStart), Window().PosOf(nEnd));
}

int CBremViewAccessible::cursorPosition() const
{
    return Window().OffsetOf(View()->CaretPos());
}

void CBremViewAccessible::setCursorPosition(int nPosition)
{
    const int64_t nPos = Window().PosOf(nPosition);
    View()->SetSelection(nPos, nPos);
}

QString CBremViewAccessible::text(int nStart, int nEnd) const
{
    const QString& strText = Window().Text();
    nStart = std::clamp(nStart, 0, int(strText.size()));
    nEnd = std::clamp(nEnd, nStart, int(strText.size()));
    return strText.mid(nStart, nEnd - nStart);
}

int CBremViewAccessible::characterCount() const
{
    return int(Window().Text().size());
}

QRect CBremViewAccessible::characterRect(int nOffset) const
{
    const QRect rc = View()->CellRect(Window().PosOf(nOffset));
    return rc.isEmpty() ? QRect() : QRect(View()->mapToGlobal(rc.topLeft()), rc.size());
}

int CBremViewAccessible::offsetAtPoint(const QPoint& pt) const
{
    const QPoint ptIn = View()->viewport()->mapFromGlobal(pt);
    if (!View()->viewport()->rect().contains(ptIn))
        return -1;
    return Window().OffsetOf(View()->PosAtPoint(ptIn));
}

void CBremViewAccessible::scrollToSubstring(int nStart, int /*nEnd*/)
{
    // The caret goes there, and the view follows it.
    setCursorPosition(nStart);
}

QString CBremViewAccessible::attributes(int /*nOffset*/, int* pStart, int* pEnd) const
{
    *pStart = 0;
    *pEnd = characterCount();
    return QString();
}
