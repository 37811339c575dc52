#pragma once

#include "logtextwindow.h"

#include <QAccessibleWidget>

class CBremView;

// What a screen reader (over AT-SPI) finds of the log: a terminal named "Device log" whose text is
// the text around the caret as the view shows it (CLogTextWindow), with its caret and selection.
// The view tells it of changes: new bytes a few times a second at most, edits and caret moves at
// once.
class CBremViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit CBremViewAccessible(CBremView* pView);

    // Makes Qt ask this class for every log view; once is enough.
    static void Install();
    // Sends what changed in the view's text as one event.
    static void Notify(CBremView* pView, const CLogTextWindow::SChange& change);

    QAccessible::Role role() const override;
    QString text(QAccessible::Text eText) const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType eType) override;

    void selection(int nSelection, int* pStart, int* pEnd) const override;
    int selectionCount() const override;
    void addSelection(int nStart, int nEnd) override;
    void removeSelection(int nSelection) override;
    void setSelection(int nSelection, int nStart, int nEnd) override;
    int cursorPosition() const override;
    void setCursorPosition(int nPosition) override;
    QString text(int nStart, int nEnd) const override;
    int characterCount() const override;
    QRect characterRect(int nOffset) const override;
    int offsetAtPoint(const QPoint& pt) const override;
    void scrollToSubstring(int nStart, int nEnd) override;
    QString attributes(int nOffset, int* pStart, int* pEnd) const override;

private:
    CBremView* View() const;
    const CLogTextWindow& Window() const;
};
