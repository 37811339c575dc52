#include "aboutdlg.h"

#include "dialogunits.h"

#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* pParent)
    : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("About Brem"));
    QFont font = this->font();
    font.setPointSize(9);
    setFont(font);
    const CDialogUnits du(font);

    auto* pName = new QLabel(QStringLiteral("Lomaris V1.0"), this);
    pName->setTextFormat(Qt::PlainText);
    pName->setGeometry(du.Rect(40, 10, 119, 8));
    auto* pLine = new QLabel(QStringLiteral("Copyright (C) 2026 Brem"), this);
    pLine->setTextFormat(Qt::PlainText);
    pLine->setGeometry(du.Rect(40, 25, 119, 8));
    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setObjectName(QStringLiteral("IDOK"));
    pOk->setDefault(true);
    pOk->setGeometry(du.Rect(178, 7, 50, 14));
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(du.X(235), du.Y(55));
}
