#pragma once

#include <QDateTime>
#include <QString>

// Every "now" of the program comes from here, so that tests can move the
// clock across hour, day and month boundaries without waiting.
namespace Clock {

QDateTime Now();

// Fixes the time that Now() returns; an invalid value restores the real clock.
void SetForTest(const QDateTime& when);

// Moves a fixed test clock forward (no effect on the real clock).
void AdvanceForTest(qint64 seconds);

// The general date text used in files, e-mails, status lines and messages,
// for example "3/7/2009 4:05:00 PM"; the same on every machine.
QString GeneralDateText(const QDateTime& when);
QString GeneralDateText();                           // of Now()
QDateTime FromGeneralDateText(const QString& text);  // invalid when it is not one
// The same text as the wall-clock time it shows, held as UTC: no time-zone
// lookup per call (files of readings are read record by record), and an
// hour that a clock change skips or repeats reads exactly as written.
QDateTime FromGeneralDateTextAsWritten(const QString& text);

// Date-time columns of the database: "yyyy-MM-dd HH:mm:ss", which sorts
// newest-last as text.
QString DbStamp(const QDateTime& when);
QString DbStamp();  // of Now()
QDateTime FromDbStamp(const QString& text);

}  // namespace Clock
