#pragma once

#include <QString>

#include <functional>

class QIODevice;
class QWidget;

// Saves a file so that neither a failed save nor a power cut can cost the old one: the new bytes
// go to a file beside it, which is flushed to the disk, renamed over the old one, and then the
// folder is flushed. Writing shows its progress after a second, as loading does, and can be
// cancelled; the flush, which on a slow disk takes as long as the disk needs, runs on a thread of
// its own while the window stays live.
class CDurableSave {
public:
    // Gets the progress (0 to 1) now and then; returns false to give up (cancelled).
    using FProgress = std::function<bool(double)>;
    // Writes the content; false with the reason in strWhy (empty when the operator cancelled).
    using FWrite
        = std::function<bool(QIODevice& file, const FProgress& fnProgress, QString& strWhy)>;

    // False with the reason in strError, empty when the operator cancelled. A save asked for
    // while another is being flushed is refused with a reason.
    static bool Save(
        QWidget* pParent, const QString& strPath, const FWrite& fnWrite, QString& strError);
};
