#ifndef ZPORT_DOCGEN_MANUALRENDERER_H
#define ZPORT_DOCGEN_MANUALRENDERER_H

#include <QString>
#include <QStringList>

// Turns one Markdown document into an A4 PDF: the text set in the Vera fonts, headings,
// tables, notes and code in boxes, pictures scaled to the page, a table of contents where the
// source asks for one, and a footer with the page number on every page.
//
// Besides plain Markdown (GitHub dialect) the source may hold two marker lines, invisible
// where Markdown is shown as a web page:
//   <!-- contents -->     the table of contents (every second-level heading, with its page)
//   <!-- page-break -->   the next block starts a new page
// A block quote whose first word is "Caution", "Warning" or "Important" is set as a caution
// box, any other block quote as a note box. A picture's title (![alt](file "Title")) becomes
// its caption.
namespace docgen {

struct ManualJob
{
    QString sourcePath; // Markdown, UTF-8; pictures are found relative to it
    QString outputPath; // the PDF to write
    QString title;      // the PDF's title property
    QString footer;     // left part of every page's footer
};

struct RenderResult
{
    bool written = false;
    int pages = 0;
    qint64 bytes = 0;
    // Pictures that could not be read (drawn as a marked empty box), and other faults.
    QStringList problems;
};

// Loads the Vera font files from fontDir; false when a needed one is missing.
bool loadFonts(const QString &fontDir, QString *error);

RenderResult renderManual(const ManualJob &job);

// A digest of what a manual is made from: its source, its pictures and the renderer's revision.
// Every PDF carries the digest of the sources it was made from.
QString sourceDigest(const ManualJob &job, QStringList *problems);
bool carriesDigest(const QByteArray &pdf, const QString &digest);

} // namespace docgen

#endif // ZPORT_DOCGEN_MANUALRENDERER_H
