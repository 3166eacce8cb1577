#pragma once

#include <QString>

#include "pages/PageForm.h"

// Temperature calibration of frmQX705 and frmZolo: the device adds a stored
// correction to each temperature reading; the user types what a reference
// thermometer shows, and the new correction makes the reading match it.
namespace Pages {

// actual - reading + old, in tenths of a degree, as the correction box shows
// it (".0" format). The reading already includes the old correction; an
// empty old correction counts as 0. False, with the reason in `error`,
// when a text is not a number.
bool NewCorrection(const QString& actual, const QString& reading, const QString& oldCorrection,
                   QString& correction, QString* error = nullptr);

// The wait between a correction upload and the download that follows it, so
// that the device has taken a corrected reading. Tests shorten it.
extern int CalibrationWaitMs;
void Reset();

// The corrections of the ports with an actual temperature, worked out into
// the correction boxes (all or none). False, with the reason, when an entry
// is not a number or a Zolo's stored corrections could not be read.
bool ComputeCalFactors(PageSession& session, QString* error = nullptr);

// The corrections uploaded with CalOnly; frmQX705 then waits and reads the
// device again. False when the upload failed.
bool UploadCalFactors(PageSession& session);

// btnStoreCalFactors: asks, computes the corrections of the ports with an
// actual temperature into the correction boxes, uploads with CalOnly, and
// reads the device again after a good upload. frmZolo: the caller refreshes
// the window afterwards (its Refresh reads the device). False when nothing
// was sent, or the upload failed (the computed values stay in the boxes).
bool StoreCalFactors(PageSession& session);

// btnReset: asks, empties the actual temperatures, sets every correction to
// 0, uploads with CalOnly and reads the device again after a good upload.
bool ResetCalFactors(PageSession& session);

}  // namespace Pages
