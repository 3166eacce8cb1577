#pragma once

#include <QByteArray>
#include <QString>

#include "core/Windows.h"
#include "pages/PageForm.h"

// The page procedures every configuration window runs over its boxes and
// page images: the full download (GetLimits), the full upload (SaveLimits),
// and the copying of one page's fields between an image and the boxes.
// Every exchange is one DeviceLink::ReadFromCV transaction; nothing is
// retried, and no pause is made between pages.
namespace Pages {

// What a window shows while a transfer runs. A window registers itself
// under its Window constant while it lives.
class TransferView {
  public:
    virtual ~TransferView() = default;
    virtual void ShowProgress(const QString& text) = 0;  // empty: hide the label
    virtual void AddStatus(const QString& line) = 0;     // one line of lstStatus
};
void SetView(Window window, TransferView* view);  // nullptr removes it

// Copies the fields of one page (or of the readings answer, page 20) into
// the boxes. Pages outside the window's map change nothing. Always true.
bool ParseLimits(PageSession& session, const QByteArray& strReceive, int page);

// Overwrites the fields of one page image from the boxes. An empty box, or
// one that shows the image's own value, keeps the image's bytes. False, with
// the box and the reason in `error` and the image unchanged, when a box
// holds something that cannot be written (not a number, out of range, a
// character the device cannot store, a new name containing "error", a
// limit typed before the device said whether it counts in tenths).
bool InsertLimits(const PageSession& session, QByteArray& strSend, int page,
                  QString* error = nullptr);

// The image of `page` as it is uploaded: the last downloaded image with the
// write head DD CC BB over bytes 1-3 and the boxes' fields. False when the
// page was not downloaded or a box is refused.
bool UploadImage(const PageSession& session, int page, QByteArray& image, QString* error = nullptr);

// Every box of the pages the upload writes (`calOnly` as for SaveLimits),
// checked as it would be written, before anything is sent; false with the
// first refusal in `error`.
bool CheckBoxes(const PageSession& session, bool calOnly, QString* error = nullptr);

// The full download: clears the boxes, reads the window's pages in their
// order, fills the boxes, and the notes from the database. False when it
// stopped early (busy device, limits page missing).
bool GetLimits(PageSession& session);

// The full upload in the window's page order, then the names and notes into
// the database. `calOnly`: frmQX705 writes page 12 alone; frmZolo writes
// pages 4 and 0 without the names. False when a box is refused (a message
// box says which, nothing is sent), when the device is busy, or when any
// page was not written ("Upload incomplete: ..." names the pages).
bool SaveLimits(PageSession& session, bool calOnly = false);

// Whether the limit boxes of a tenths-aware window are held read-only: no
// readings answer has told yet whether the device counts in tenths.
bool LimitsLocked(const PageSession& session);

// The busy messages (two spaces after each full stop).
QString BusyMessage(Window window);

}  // namespace Pages
