#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A small PDF 1.4 writer for printable reports: lines of text in the
// standard Helvetica fonts (which every reader has, so nothing is
// embedded), WinAnsi-encoded, on A4 pages, wrapped to the page's width and
// continued on a new page when one is full.
namespace Pdf {

struct Line {
    QString text;
    double size = 10;  // points
    bool bold = false;
};

// The whole file; `title` goes into the document's information.
QByteArray Document(const QList<Line>& lines, const QString& title);
// A text as the bytes of a PDF string in WinAnsiEncoding, parentheses and
// backslashes escaped, bytes above 127 as octal escapes; a character the
// encoding lacks becomes '?'.
QByteArray StringLiteral(const QString& text);

}  // namespace Pdf
