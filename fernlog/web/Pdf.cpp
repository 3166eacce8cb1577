#include "web/Pdf.h"

#include <QHash>

namespace Pdf {
namespace {
// A4 in points, and the margins.
constexpr double kWidth = 595, kHeight = 842, kMargin = 50;

// The characters of WinAnsiEncoding's 0x80-0x9F, which Latin-1 uses for
// control codes.
int WinAnsi(char16_t c) {
    if (c < 0x20) return ' ';
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    static const QHash<char16_t, int> extra{
        {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85},
        {0x2020, 0x86}, {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A},
        {0x2039, 0x8B}, {0x0152, 0x8C}, {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92},
        {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95}, {0x2013, 0x96}, {0x2014, 0x97},
        {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B}, {0x0153, 0x9C},
        {0x017E, 0x9E}, {0x0178, 0x9F}};
    return extra.value(c, '?');
}

// Lines cut at a blank to fit the width. Helvetica's letters average about
// half their size, a little more for bold; no metrics are needed for a
// report whose lines are mostly short.
QStringList Wrap(const Line& line) {
    const int fits =
        qMax(20, int((kWidth - 2 * kMargin) / (line.size * (line.bold ? 0.56 : 0.52))));
    QStringList out;
    QString rest = line.text;
    while (rest.size() > fits) {
        qsizetype cut = rest.lastIndexOf(u' ', fits);
        if (cut <= 0) cut = fits;
        out << rest.left(cut);
        rest = rest.mid(cut).trimmed();
    }
    out << rest;
    return out;
}
}  // namespace

QByteArray StringLiteral(const QString& text) {
    QByteArray out = "(";
    for (const QChar c : text) {
        const int code = WinAnsi(c.unicode());
        if (code == '(' || code == ')' || code == '\\') {
            out += '\\';
            out += char(code);
        } else if (code >= 0x80) {
            out += '\\' + QByteArray::number(code, 8);
        } else {
            out += char(code);
        }
    }
    return out + ')';
}

QByteArray Document(const QList<Line>& lines, const QString& title) {
    // Each page's content stream, filled top to bottom.
    QList<QByteArray> pages{QByteArray()};
    double y = kHeight - kMargin;
    for (const Line& line : lines) {
        for (const QString& part : Wrap(line)) {
            const double lead = line.size * 1.3;
            if (y - lead < kMargin) {
                pages << QByteArray();
                y = kHeight - kMargin;
            }
            y -= lead;
            pages.last() += "BT /" + QByteArray(line.bold ? "F2 " : "F1 ") +
                            QByteArray::number(line.size) + " Tf " + QByteArray::number(kMargin) +
                            ' ' + QByteArray::number(y, 'f', 1) + " Td " + StringLiteral(part) +
                            " Tj ET\n";
        }
    }

    // Objects 1-5 are fixed; each page is a page object and its content.
    QList<QByteArray> objects;
    QByteArray kids;
    for (int i = 0; i < pages.size(); ++i) kids += QByteArray::number(6 + 2 * i) + " 0 R ";
    objects << "<< /Type /Catalog /Pages 2 0 R >>"
            << "<< /Type /Pages /Kids [" + kids.trimmed() + "] /Count " +
                   QByteArray::number(pages.size()) + " >>"
            << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"
            << "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding "
               "/WinAnsiEncoding >>"
            << "<< /Title " + StringLiteral(title) + " /Producer (fernlog) >>";
    for (int i = 0; i < pages.size(); ++i) {
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources << /Font << "
                   "/F1 3 0 R /F2 4 0 R >> >> /Contents " +
                       QByteArray::number(7 + 2 * i) + " 0 R >>"
                << "<< /Length " + QByteArray::number(pages[i].size()) + " >>\nstream\n" +
                       pages[i] + "endstream";
    }

    // A binary comment after the header tells transfer programs it is not text.
    QByteArray file = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << file.size();
        file += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = file.size();
    file += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets) {
        file += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    file += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
            " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return file;
}

}  // namespace Pdf
