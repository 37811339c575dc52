#pragma once

#include <QString>

#include <string>

// Turns a "Name(*.ext)|*.ext|All Files(*.*)|*.*||" filter into Qt's "Name (*.ext);;…" form.
// "*.*" becomes "*", so that "all files" also lists names without a dot.
QString QtFileFilter(const std::string& strFilter);
