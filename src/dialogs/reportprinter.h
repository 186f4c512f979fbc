#pragma once

#include "reports/reportwriter.h"

#include <QFont>

#include <functional>
#include <QList>

class QPainter;
class QPrinter;

// Lays a text report out on paper as one tall column of lines cut into pages: lines from 100 units down, between
// 250 and 250 + 10 × the paper width in millimetres, each in the font of its kind. The printer is set to 254 dots
// per inch, so a unit is a tenth of a millimetre. Each page draws only the lines that fall on it.
class ReportPrinter
{
public:
    explicit ReportPrinter(QPrinter &printer);

    // Measures the lines; returns the page count (total height ÷ paper height in millimetres ÷ 10 + 1, and at
    // least the pages the lines need).
    // `progress` is told every few hundred lines measured (the line, of all).
    int Prepare(const QList<ReportLine> &lines, const std::function<void(int line, int lines)> &progress = {});
    // Places the lines from the top; returns the total height.
    int Measure(const QList<ReportLine> &lines, const std::function<void(int line, int lines)> &progress = {});
    // Draws the lines of one page (0-based), shifted onto the paper.
    void Draw(QPainter &painter, int page) const;
    // Paints the pages onto the printer (a PDF, the preview or paper): every page, or the range the print dialog
    // set. `progress` is told before each page (0-based, of the page count); false stops there.
    void Print(const std::function<bool(int page, int pages)> &progress = {});
    int PageCount() const { return m_pages; }
    static QFont FontFor(int kind);

private:
    struct Placed
    {
        QString text;
        int kind;
        int top;
        int height;
    };

    QPrinter &m_printer;
    QList<Placed> m_placed;
    int m_right = 0;
    int m_pageHeight = 0;   // device units of one page
    int m_pages = 1;
};
