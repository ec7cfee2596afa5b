#pragma once
// A PDF of plain dark type, for the tests that read, redact or write back its pages.

#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QStringList>

// A5 pages at 72 dpi in 16 px DejaVu Sans; each page's lines (parted by `|`) stand `lineGap` points apart from 60
// down.
inline void writeTextPdf(const QString& path, const QStringList& pages, int lineGap = 30) {
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(16);
    painter.setFont(font);
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (i > 0)
            writer.newPage();
        const QStringList lines = pages[i].split(u'|');
        for (qsizetype l = 0; l < lines.size(); ++l)
            painter.drawText(30, int(60 + lineGap * l), lines[l]);
    }
}

// Every page's text as a PDF reader extracts it, pages joined by newlines.
inline QString pdfText(const QString& path) {
    QPdfDocument doc;
    doc.load(path);
    QStringList pages;
    for (int i = 0; i < doc.pageCount(); ++i)
        pages << doc.getAllText(i).text();
    return pages.join(u'\n');
}
