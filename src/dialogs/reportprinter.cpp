#include "dialogs/reportprinter.h"

#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>

#include <algorithm>

namespace {

constexpr int kTop = 100;
constexpr int kLeft = 250;
constexpr int kBoxHeight = 1000;
constexpr double kScale = 1.5;   // font heights of the layout, in tenths of a millimetre per base unit

} // namespace

ReportPrinter::ReportPrinter(QPrinter &printer) : m_printer(printer)
{
    m_printer.setResolution(254);
}

QFont ReportPrinter::FontFor(int kind)
{
    QFont font(QStringLiteral("Arial"));
    switch (kind) {
    case ReportLine::Heading:
        font.setBold(true);
        font.setPixelSize(int(kScale * 16));
        break;
    case ReportLine::GroupHeading:
        font.setBold(true);
        font.setPixelSize(int(kScale * 14));
        break;
    case ReportLine::Tagged:
        font.setPixelSize(int(kScale * 12));
        break;
    default:
        font.setPixelSize(int(kScale * 14));
        break;
    }
    return font;
}

int ReportPrinter::Prepare(const QList<ReportLine> &lines, const std::function<void(int line, int lines)> &progress)
{
    const int paperHeightMm = int(m_printer.pageLayout().fullRect(QPageLayout::Millimeter).height());
    const int y = Measure(lines, progress);
    // The paper's height gives the page count, but the printable part is shorter than the paper: count at least
    // the pages the lines need, so none is lost after the last counted page.
    m_pages = std::max(y / std::max(1, paperHeightMm) / 10 + 1, (y + m_pageHeight - 1) / m_pageHeight);
    return m_pages;
}

int ReportPrinter::Measure(const QList<ReportLine> &lines, const std::function<void(int line, int lines)> &progress)
{
    const int paperWidthMm = int(m_printer.pageLayout().fullRect(QPageLayout::Millimeter).width());
    m_right = kLeft + 10 * paperWidthMm;
    // A page shows the printable part of the paper: the slice each page draws is that high.
    m_pageHeight = std::max(1, m_printer.pageLayout().paintRectPixels(m_printer.resolution()).height());
    m_placed.clear();
    // One rule for measuring and drawing: an empty line is as high as a line of its font.
    int y = kTop;
    int index = 0;
    for (const ReportLine &line : lines) {
        if (progress && index++ % 256 == 0)
            progress(index - 1, int(lines.size()));
        QString text = line.text;
        if (!text.isEmpty())
            text.chop(1);   // the trailing line break (the TXT footer loses its last blank instead)
        const QFontMetrics metrics(FontFor(line.kind), &m_printer);
        const int height = text.isEmpty() ? metrics.height()
                                          : metrics.boundingRect(QRect(kLeft, y, m_right - kLeft, kBoxHeight),
                                                                 Qt::AlignLeft | Qt::AlignTop, text).height();
        // A line that would cross the bottom of a page starts the next one instead.
        if (y % m_pageHeight + height > m_pageHeight && height <= m_pageHeight)
            y += m_pageHeight - y % m_pageHeight;
        m_placed.append(Placed{text, line.kind, y, height});
        y += height;
    }
    return y;
}

void ReportPrinter::Draw(QPainter &painter, int page) const
{
    const int offset = page * m_pageHeight;
    painter.save();
    painter.translate(0, -offset);
    // Only the lines that start on this page are drawn, each whole: a line is never cut in two at a page edge.
    // The lines lie top to bottom, so the page's first line is found by a binary search: printing costs the
    // lines once, not the lines once for every page.
    const auto first = std::lower_bound(m_placed.cbegin(), m_placed.cend(), offset,
                                        [](const Placed &line, int top) { return line.top < top; });
    for (auto it = first; it != m_placed.cend() && it->top < offset + m_pageHeight; ++it) {
        const Placed &line = *it;
        painter.setFont(FontFor(line.kind));
        painter.drawText(QRect(kLeft, line.top, m_right - kLeft, kBoxHeight), Qt::AlignLeft | Qt::AlignTop, line.text);
    }
    painter.restore();
}

void ReportPrinter::Print(const std::function<bool(int page, int pages)> &progress)
{
    QPainter painter(&m_printer);
    if (!painter.isActive())
        return;
    // The pages the print dialog asked for (counted from 1), else all of them.
    int first = 0;
    int last = m_pages - 1;
    if (m_printer.printRange() == QPrinter::PageRange && m_printer.fromPage() > 0) {
        first = std::min(m_printer.fromPage(), m_pages) - 1;
        last = std::clamp(m_printer.toPage() > 0 ? m_printer.toPage() - 1 : last, first, m_pages - 1);
    }
    for (int page = first; page <= last; ++page) {
        if (progress && !progress(page, m_pages)) {
            m_printer.abort();   // a stopped print job is dropped, not sent half done
            return;
        }
        if (page > first)
            m_printer.newPage();
        Draw(painter, page);
    }
}
