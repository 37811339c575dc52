#pragma once

#include "prompts.h"

#include <cstdio>

// Boxes go to stderr and dialogs are cancelled: nobody is there to answer them.
class CBenchPrompts : public CPrompts {
public:
    void MessageBox(QWidget*, const QString& strCaption, const QString& strText, bool) override
    {
        std::fprintf(stderr, "box: %s: %s\n", qPrintable(strCaption), qPrintable(strText));
    }
    QString OpenFileName(QWidget*, const QString&) override { return QString(); }
    QString SaveFileName(QWidget*) override { return QString(); }
};
