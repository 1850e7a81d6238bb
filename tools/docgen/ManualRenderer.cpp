#include "ManualRenderer.h"

#include <QAbstractTextDocumentLayout>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace docgen {

namespace {

// Page geometry (millimetres) and resolution of the PDF's coordinate system.
constexpr qreal kDeviceDpi = 300;
constexpr qreal kMarginLeftMm = 22;
constexpr qreal kMarginRightMm = 22;
constexpr qreal kMarginTopMm = 20;
constexpr qreal kMarginBottomMm = 24;
// The footer's baseline, measured up from the page's bottom edge.
constexpr qreal kFooterBaselineMm = 13;

// Lengths in text formats (margins, padding, borders, picture sizes) are in units of 1/96 inch
// whatever the paint device; the layout scales them to it.
constexpr qreal kFormatDpi = 96;
// Screenshots are shown smaller than their pixel size (the PDF keeps every pixel, so they stay
// sharp when zoomed): message boxes at three quarters, the whole window (anything wider than
// kWidePicture pixels) at a little under two thirds, so that it takes two thirds of the text
// width and leaves room for the text around it.
constexpr qreal kPictureScale = 0.75;
constexpr qreal kWidePictureScale = 0.62;
constexpr int kWidePicture = 600;

// A heading this close to the bottom of a page (in units of the body's height), or one whose
// text would start on the next page, moves to the next page with its text.
constexpr qreal kHeadingKeepRoom = 0.07;

constexpr int kBodyPointSize = 10;
const QColor kText(0x22, 0x25, 0x2a);
const QColor kHeading(0x16, 0x3a, 0x63);
const QColor kMuted(0x6b, 0x71, 0x7a);
const QColor kLink(0x1d, 0x5f, 0xa8);
const QColor kRule(0xc9, 0xcf, 0xd6);
const QColor kTableHead(0xe9, 0xee, 0xf4);
const QColor kCodeBackground(0xf3, 0xf4, 0xf6);
const QColor kCodeBorder(0xd7, 0xdb, 0xe0);
const QColor kNoteBackground(0xee, 0xf4, 0xfb);
const QColor kNoteBorder(0x9d, 0xbc, 0xdf);
const QColor kCautionBackground(0xfd, 0xf3, 0xe1);
const QColor kCautionBorder(0xe0, 0xa3, 0x3b);

// Marks the caption block under a picture.
constexpr int kCaptionProperty = QTextFormat::UserProperty + 1;

const QString kPageBreakMarker = QStringLiteral("@@docgen-page-break@@");
const QString kContentsMarker = QStringLiteral("@@docgen-contents@@");

QString gSans;
QString gMono;

qreal mmToDevice(qreal mm)
{
    return mm / 25.4 * kDeviceDpi;
}

qreal mmToFormat(qreal mm)
{
    return mm / 25.4 * kFormatDpi;
}

qreal ptToFormat(qreal pt)
{
    return pt / 72.0 * kFormatDpi;
}

QString preprocess(QString markdown)
{
    markdown.replace(QRegularExpression(QStringLiteral("^<!--\\s*page-break\\s*-->[ \\t]*$"),
                                        QRegularExpression::MultilineOption),
                     kPageBreakMarker);
    markdown.replace(QRegularExpression(QStringLiteral("^<!--\\s*contents\\s*-->[ \\t]*$"),
                                        QRegularExpression::MultilineOption),
                     kContentsMarker);
    return markdown;
}

std::vector<QTextBlock> allBlocks(QTextDocument &doc)
{
    std::vector<QTextBlock> blocks;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        blocks.push_back(b);
    return blocks;
}

bool isCodeBlock(const QTextBlock &block)
{
    const QTextBlockFormat f = block.blockFormat();
    return f.hasProperty(QTextFormat::BlockCodeFence) ||
           f.hasProperty(QTextFormat::BlockCodeLanguage);
}

int quoteLevel(const QTextBlock &block)
{
    return block.blockFormat().intProperty(QTextFormat::BlockQuoteLevel);
}

// Applies f to each fragment of a block (collected first: changing formats may merge them).
void forEachFragment(QTextBlock block,
                     const std::function<void(QTextCharFormat &, const QString &)> &f)
{
    struct Piece
    {
        int position;
        int length;
        QTextCharFormat format;
        QString text;
    };
    std::vector<Piece> pieces;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.isValid())
            pieces.push_back(
                {fragment.position(), fragment.length(), fragment.charFormat(), fragment.text()});
    }
    QTextCursor cursor(block);
    for (Piece &piece : pieces) {
        f(piece.format, piece.text);
        cursor.setPosition(piece.position);
        cursor.setPosition(piece.position + piece.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(piece.format);
    }
}

// Code: the Markdown reader sets it in the system's fixed font, which need not say that it is
// of fixed pitch (without a display it may not be); its family tells.
bool isCode(const QTextCharFormat &f)
{
    static const QString fixedFamily = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    return f.fontFixedPitch() || f.fontFamily() == fixedFamily;
}

void setBaseCharFormat(QTextCharFormat &f, bool mono, qreal pointSize)
{
    f.clearProperty(QTextFormat::FontSizeAdjustment);
    f.setFontFamily(mono ? gMono : gSans);
    f.setFontFixedPitch(mono);
    f.setFontStyleHint(mono ? QFont::TypeWriter : QFont::SansSerif);
    f.setFontPointSize(pointSize);
    if (!f.isAnchor() && !f.hasProperty(QTextFormat::ForegroundBrush))
        f.setForeground(kText);
}

void styleHeading(QTextBlock block, int level)
{
    static const qreal sizes[] = {0, 24, 15, 12, 10.5, 10, 10};
    const qreal size = sizes[std::min(level, 6)];
    QTextCursor cursor(block);
    QTextBlockFormat bf = block.blockFormat();
    bf.setTopMargin(ptToFormat(level == 1 ? 0 : level == 2 ? 16 : 11));
    bf.setBottomMargin(ptToFormat(level == 1 ? 6 : level == 2 ? 7 : 3));
    bf.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
    cursor.setBlockFormat(bf);
    forEachFragment(block, [&](QTextCharFormat &f, const QString &) {
        setBaseCharFormat(f, isCode(f), size);
        f.setFontWeight(QFont::Bold);
        f.setForeground(kHeading);
    });
}

void styleBodyBlock(QTextBlock block)
{
    const bool code = isCodeBlock(block);
    QTextCursor cursor(block);
    QTextBlockFormat bf = block.blockFormat();
    if (code) {
        // Each line of code is a block of its own; the space between them is the blocks'.
        bf.setTopMargin(0);
        bf.setBottomMargin(ptToFormat(2));
        bf.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
        bf.setNonBreakableLines(true);
    } else {
        QTextList *list = block.textList();
        // The last item of a list has the space of a paragraph after it.
        const bool lastItem = list != nullptr && block.next().textList() != list;
        bf.setTopMargin(list != nullptr ? ptToFormat(1) : 0);
        bf.setBottomMargin(ptToFormat(list != nullptr && !lastItem ? 2.5 : 6));
        bf.setLineHeight(135, QTextBlockFormat::ProportionalHeight);
    }
    cursor.setBlockFormat(bf);
    // The block's own format sets the list markers: plain, in the body's size.
    QTextCharFormat blockChars = block.charFormat();
    setBaseCharFormat(blockChars, code, code ? kBodyPointSize - 1 : kBodyPointSize);
    blockChars.setFontWeight(QFont::Normal);
    blockChars.setFontItalic(false);
    cursor.setBlockCharFormat(blockChars);
    forEachFragment(block, [&](QTextCharFormat &f, const QString &) {
        if (f.isImageFormat())
            return;
        const bool mono = code || isCode(f);
        setBaseCharFormat(f, mono, mono ? kBodyPointSize - 1 : kBodyPointSize);
        if (f.isAnchor()) {
            f.setForeground(kLink);
            f.setFontUnderline(false);
        }
    });
}

// Pictures: read from beside the source, scaled, each alone on its line and centred, with the
// title as caption underneath.
void placePictures(QTextDocument &doc, const QDir &base, qreal textWidthFormat,
                   QStringList &problems)
{
    for (QTextBlock block : allBlocks(doc)) {
        QString caption;
        bool hasPicture = false;
        forEachFragment(block, [&](QTextCharFormat &f, const QString &) {
            if (!f.isImageFormat())
                return;
            hasPicture = true;
            QTextImageFormat image = f.toImageFormat();
            const QString name = image.name();
            QImage picture(base.filePath(name));
            if (picture.isNull()) {
                problems << QStringLiteral("picture %1 cannot be read").arg(name);
                picture = QImage(480, 120, QImage::Format_RGB32);
                picture.fill(QColor(0xf8, 0xe0, 0xe0));
                QPainter p(&picture);
                p.setPen(QColor(0xa0, 0x20, 0x20));
                p.drawRect(picture.rect().adjusted(0, 0, -1, -1));
                p.drawText(picture.rect(), Qt::AlignCenter,
                           QStringLiteral("Picture missing: ") + name);
            }
            doc.addResource(QTextDocument::ImageResource, QUrl(name), picture);
            const qreal scale = picture.width() > kWidePicture ? kWidePictureScale : kPictureScale;
            qreal width = picture.width() * scale;
            qreal height = picture.height() * scale;
            if (width > textWidthFormat) {
                height *= textWidthFormat / width;
                width = textWidthFormat;
            }
            image.setWidth(width);
            image.setHeight(height);
            caption = image.stringProperty(QTextFormat::ImageTitle);
            f = image;
        });
        if (!hasPicture)
            continue;
        QTextCursor cursor(block);
        QTextBlockFormat bf = block.blockFormat();
        bf.setAlignment(Qt::AlignHCenter);
        bf.setTopMargin(ptToFormat(4));
        bf.setBottomMargin(ptToFormat(caption.isEmpty() ? 8 : 2));
        bf.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
        cursor.setBlockFormat(bf);
        if (caption.isEmpty())
            continue;
        cursor.movePosition(QTextCursor::EndOfBlock);
        QTextBlockFormat captionFormat;
        captionFormat.setProperty(kCaptionProperty, true);
        captionFormat.setAlignment(Qt::AlignHCenter);
        captionFormat.setTopMargin(0);
        captionFormat.setBottomMargin(ptToFormat(10));
        QTextCharFormat captionChars;
        captionChars.setFontFamily(gSans);
        captionChars.setFontPointSize(kBodyPointSize - 1.5);
        captionChars.setFontItalic(true);
        captionChars.setForeground(kMuted);
        cursor.insertBlock(captionFormat, captionChars);
        cursor.insertText(caption, captionChars);
    }
}

// Consecutive blocks for which belongs() holds, as [start, end) document positions.
std::vector<std::pair<int, int>> runsOf(QTextDocument &doc,
                                        const std::function<bool(const QTextBlock &)> &belongs)
{
    std::vector<std::pair<int, int>> runs;
    int start = -1;
    int end = -1;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (belongs(b)) {
            if (start < 0)
                start = b.position();
            end = b.position() + b.length() - 1;
        } else if (start >= 0) {
            runs.emplace_back(start, end);
            start = -1;
        }
    }
    if (start >= 0)
        runs.emplace_back(start, end);
    return runs;
}

QTextFrameFormat boxFormat(const QColor &background, const QColor &border, qreal padding)
{
    QTextFrameFormat f;
    f.setBackground(background);
    f.setBorder(0.75);
    f.setBorderBrush(border);
    f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    f.setPadding(padding);
    f.setTopMargin(ptToFormat(3));
    f.setBottomMargin(ptToFormat(9));
    return f;
}

// Moves each run into a frame of its own; the last run first, so positions stay valid.
void boxRuns(QTextDocument &doc, const std::vector<std::pair<int, int>> &runs,
             const std::function<QTextFrameFormat(const QString &firstText)> &format)
{
    for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
        QTextCursor cursor(&doc);
        cursor.setPosition(it->first);
        const QString firstText = cursor.block().text();
        // The frame's first block comes with a new format: give it back the one it had.
        const QTextBlockFormat firstFormat = cursor.block().blockFormat();
        const QTextCharFormat firstChars = cursor.block().charFormat();
        cursor.setPosition(it->second, QTextCursor::KeepAnchor);
        QTextFrame *frame = cursor.insertFrame(format(firstText));
        {
            QTextCursor first = frame->firstCursorPosition();
            first.setBlockFormat(firstFormat);
            first.setBlockCharFormat(firstChars);
        }
        // Inside the box the blocks lose the quote's indentation, and the last one its space.
        QTextBlock last;
        for (auto b = frame->begin(); !b.atEnd(); ++b) {
            const QTextBlock block = b.currentBlock();
            if (!block.isValid())
                continue;
            QTextCursor c(block);
            QTextBlockFormat bf = block.blockFormat();
            bf.clearProperty(QTextFormat::BlockQuoteLevel);
            bf.setIndent(0);
            bf.setLeftMargin(0);
            bf.setRightMargin(0);
            c.setBlockFormat(bf);
            last = block;
        }
        if (last.isValid()) {
            QTextCursor c(last);
            QTextBlockFormat bf = last.blockFormat();
            bf.setBottomMargin(0);
            // A fenced code block ends in an empty line: keep it from adding height.
            if (last.text().isEmpty() && last != frame->firstCursorPosition().block()) {
                bf.setLineHeight(0, QTextBlockFormat::FixedHeight);
                QTextCharFormat tiny;
                tiny.setFontPointSize(1);
                c.setBlockCharFormat(tiny);
            }
            c.setBlockFormat(bf);
        }
    }
}

// The empty paragraphs that a document keeps before and after each box and table take no room.
void collapseBlocksAroundFrames(QTextDocument &doc)
{
    const auto collapse = [](QTextBlock block) {
        if (!block.isValid() || !block.text().isEmpty() ||
            block.blockFormat().pageBreakPolicy() != QTextFormat::PageBreak_Auto)
            return;
        QTextCursor c(block);
        QTextBlockFormat bf = block.blockFormat();
        bf.setTopMargin(0);
        bf.setBottomMargin(0);
        bf.setLineHeight(0, QTextBlockFormat::FixedHeight);
        c.setBlockFormat(bf);
        QTextCharFormat tiny;
        tiny.setFontPointSize(1);
        c.setBlockCharFormat(tiny);
    };
    for (QTextFrame *frame : doc.rootFrame()->childFrames()) {
        collapse(frame->firstCursorPosition().block().previous());
        collapse(frame->lastCursorPosition().block().next());
    }
}

void styleTable(QTextTable *table)
{
    QTextTableFormat f = table->format();
    f.setBorder(0.75);
    f.setBorderBrush(kRule);
    f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    f.setBorderCollapse(true);
    f.setCellSpacing(0);
    f.setCellPadding(ptToFormat(3.5));
    f.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    f.setTopMargin(ptToFormat(3));
    f.setBottomMargin(ptToFormat(9));
    f.setHeaderRowCount(1);
    table->setFormat(f);
    for (int row = 0; row < table->rows(); ++row) {
        for (int column = 0; column < table->columns(); ++column) {
            QTextTableCell cell = table->cellAt(row, column);
            QTextCharFormat cellFormat = cell.format();
            cellFormat.setVerticalAlignment(QTextCharFormat::AlignTop);
            if (row == 0)
                cellFormat.setBackground(kTableHead);
            cell.setFormat(cellFormat);
            for (auto b = cell.begin(); !b.atEnd(); ++b) {
                const QTextBlock block = b.currentBlock();
                if (!block.isValid())
                    continue;
                QTextCursor c(block);
                QTextBlockFormat bf = block.blockFormat();
                bf.setTopMargin(0);
                bf.setBottomMargin(0);
                bf.setLineHeight(125, QTextBlockFormat::ProportionalHeight);
                c.setBlockFormat(bf);
                forEachFragment(block, [&](QTextCharFormat &chars, const QString &) {
                    if (row == 0)
                        chars.setFontWeight(QFont::Bold);
                    chars.setFontPointSize(chars.fontFixedPitch() ? kBodyPointSize - 1.5
                                                                  : kBodyPointSize - 0.5);
                });
            }
        }
    }
}

void forEachTable(QTextFrame *frame, const std::function<void(QTextTable *)> &f)
{
    for (QTextFrame *child : frame->childFrames()) {
        if (auto *table = qobject_cast<QTextTable *>(child))
            f(table);
        forEachTable(child, f);
    }
}

struct ContentsEntry
{
    QTextBlock heading;
    QTextTableCell pageCell;
};

// Replaces the contents marker with a table of the second-level headings; their page numbers
// are filled in once the pages are laid out.
std::vector<ContentsEntry> insertContents(QTextDocument &doc)
{
    std::vector<ContentsEntry> entries;
    QTextBlock marker;
    std::vector<QTextBlock> headings;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.text() == kContentsMarker)
            marker = b;
        else if (b.blockFormat().headingLevel() == 2 && marker.isValid())
            headings.push_back(b);
    }
    if (!marker.isValid() || headings.empty())
        return entries;

    QTextCursor cursor(marker);
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();

    QTextCharFormat titleChars;
    titleChars.setFontFamily(gSans);
    titleChars.setFontPointSize(15);
    titleChars.setFontWeight(QFont::Bold);
    titleChars.setForeground(kHeading);
    QTextBlockFormat titleBlock;
    titleBlock.setTopMargin(ptToFormat(6));
    titleBlock.setBottomMargin(ptToFormat(7));
    cursor.setBlockFormat(titleBlock);
    cursor.insertText(QStringLiteral("Contents"), titleChars);

    QTextTableFormat tableFormat;
    tableFormat.setBorder(0);
    tableFormat.setCellSpacing(0);
    tableFormat.setCellPadding(ptToFormat(2.2));
    tableFormat.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    tableFormat.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 90),
                                           QTextLength(QTextLength::PercentageLength, 10)});
    tableFormat.setBottomMargin(ptToFormat(8));
    cursor.movePosition(QTextCursor::EndOfBlock);
    QTextTable *table = cursor.insertTable(int(headings.size()), 2, tableFormat);
    QTextCharFormat entryChars;
    entryChars.setFontFamily(gSans);
    entryChars.setFontPointSize(kBodyPointSize + 0.5);
    entryChars.setForeground(kText);
    for (int i = 0; i < int(headings.size()); ++i) {
        QTextCursor title = table->cellAt(i, 0).firstCursorPosition();
        title.insertText(headings[std::size_t(i)].text(), entryChars);
        QTextCursor page = table->cellAt(i, 1).firstCursorPosition();
        QTextBlockFormat right;
        right.setAlignment(Qt::AlignRight);
        page.setBlockFormat(right);
        page.insertText(QStringLiteral("0"), entryChars);
        entries.push_back({headings[std::size_t(i)], table->cellAt(i, 1)});
    }
    return entries;
}

// The anchor that Markdown viewers give a heading: lower case, punctuation dropped, blanks
// turned into hyphens ("Viewing the Z-PORT's log" -> "viewing-the-z-ports-log").
QString slugOf(const QString &heading)
{
    QString slug;
    for (const QChar c : heading.toLower()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            slug += c;
        else if (c == QLatin1Char(' '))
            slug += QLatin1Char('-');
    }
    return slug;
}

struct Reference
{
    QTextBlock heading;
    QTextCursor number; // selects the page number written after the reference
};

// A link to a heading of the same document ([text](#anchor)) cannot be followed on paper: it
// becomes plain text followed by the heading's page, "(page 7)". Returns the references to
// fill in once the pages are laid out.
std::vector<Reference> resolveReferences(QTextDocument &doc, QStringList &problems)
{
    std::map<QString, QTextBlock> headings;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.blockFormat().headingLevel() > 0)
            headings.emplace(slugOf(b.text()), b);
    }
    struct Link
    {
        int start;
        int end;
        QString target;
        QTextCharFormat format;
    };
    std::vector<Link> links;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QString href = f.charFormat().anchorHref();
            if (!f.isValid() || !href.startsWith(QLatin1Char('#')))
                continue;
            if (!links.empty() && links.back().end == f.position() &&
                links.back().target == href.mid(1))
                links.back().end = f.position() + f.length();
            else
                links.push_back(
                    {f.position(), f.position() + f.length(), href.mid(1), f.charFormat()});
        }
    }
    std::vector<Reference> references;
    // From the end, so that inserted text leaves the positions before it as they are.
    for (auto link = links.rbegin(); link != links.rend(); ++link) {
        QTextCursor cursor(&doc);
        cursor.setPosition(link->start);
        cursor.setPosition(link->end, QTextCursor::KeepAnchor);
        QTextCharFormat plain = link->format;
        plain.setAnchor(false);
        plain.clearProperty(QTextFormat::AnchorHref);
        plain.clearProperty(QTextFormat::AnchorName);
        plain.setForeground(kText);
        plain.setFontItalic(true);
        cursor.setCharFormat(plain);
        const auto heading = headings.find(link->target);
        if (heading == headings.end()) {
            problems
                << QStringLiteral("link to a heading that does not exist: #%1").arg(link->target);
            continue;
        }
        QTextCharFormat note = plain;
        note.setFontItalic(false);
        note.setForeground(kMuted);
        cursor.setPosition(link->end);
        cursor.insertText(QStringLiteral(" (page "), note);
        const int numberAt = cursor.position();
        cursor.insertText(QStringLiteral("0"), note);
        const int numberEnd = cursor.position();
        cursor.insertText(QStringLiteral(")"), note);
        QTextCursor number(&doc);
        number.setPosition(numberAt);
        number.setPosition(numberEnd, QTextCursor::KeepAnchor);
        references.push_back({heading->second, number});
    }
    return references;
}

// Where a block's first line stands. The layout moves a line that does not fit to the next page
// inside its block, so the block itself may begin on the page before; and it places such a line
// at the page's top edge only to within a fraction of a device pixel, hence the pixel added.
qreal firstLineTop(QTextDocument &doc, const QTextBlock &block)
{
    const QRectF r = doc.documentLayout()->blockBoundingRect(block);
    const QTextLayout *layout = block.layout();
    const qreal line = layout != nullptr && layout->lineCount() > 0 ? layout->lineAt(0).y() : 0;
    return r.top() + line + 1;
}

int pageOf(QTextDocument &doc, const QTextBlock &block, qreal pageHeight)
{
    return int(firstLineTop(doc, block) / pageHeight) + 1;
}

// Lays the whole document out again. After an edit the layout only redoes the part it thinks
// has changed, and with pages that can leave later blocks unplaced: start from scratch.
void layOutCompletely(QTextDocument &doc)
{
    const QSizeF page = doc.pageSize();
    doc.setPageSize(QSizeF(page.width(), page.height() + 1));
    doc.setPageSize(page);
    doc.documentLayout()->documentSize();
}

// Moves the first short box (code, note or caution) that runs over the foot of a page to the
// next page; true when it moved one.
bool keepBoxTogether(QTextDocument &doc, qreal pageHeight)
{
    for (QTextFrame *frame : doc.rootFrame()->childFrames()) {
        if (qobject_cast<QTextTable *>(frame) != nullptr)
            continue;
        QTextFrameFormat f = frame->frameFormat();
        if (f.pageBreakPolicy() != QTextFormat::PageBreak_Auto)
            continue;
        const QRectF r = doc.documentLayout()->frameBoundingRect(frame);
        const int firstPage = int(r.top() / pageHeight);
        const int lastPage = int((r.bottom() - 1) / pageHeight);
        if (firstPage != lastPage && r.height() < pageHeight / 2) {
            f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            frame->setFrameFormat(f);
            layOutCompletely(doc);
            return true;
        }
    }
    return false;
}

// Moves headings that would stand at the foot of a page, and pictures whose caption would
// start the next page, to the next page; keeps short boxes whole.
void keepHeadingsWithText(QTextDocument &doc, qreal pageHeight)
{
    layOutCompletely(doc);
    for (int pass = 0; pass < 40; ++pass) {
        bool changed = false;
        for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
            // A caption stays on the page of its picture.
            if (b.blockFormat().boolProperty(kCaptionProperty)) {
                const QTextBlock picture = b.previous();
                if (pageOf(doc, picture, pageHeight) != pageOf(doc, b, pageHeight) &&
                    picture.blockFormat().pageBreakPolicy() == QTextFormat::PageBreak_Auto) {
                    QTextCursor c(picture);
                    QTextBlockFormat bf = picture.blockFormat();
                    bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                    c.setBlockFormat(bf);
                    layOutCompletely(doc);
                    changed = true;
                    break;
                }
                continue;
            }
            const int level = b.blockFormat().headingLevel();
            if (level < 2 || b.blockFormat().pageBreakPolicy() != QTextFormat::PageBreak_Auto)
                continue;
            const QRectF r = doc.documentLayout()->blockBoundingRect(b);
            const qreal top = firstLineTop(doc, b);
            const qreal page = std::floor(top / pageHeight);
            const qreal onPage = top - page * pageHeight;
            // What follows the heading must start on its page, with some room left for it.
            const QTextBlock next = b.next();
            const bool nextMoved =
                next.isValid() && std::floor(firstLineTop(doc, next) / pageHeight) != page;
            if (onPage > 0 &&
                (nextMoved || onPage + r.height() > pageHeight * (1 - kHeadingKeepRoom))) {
                QTextCursor c(b);
                QTextBlockFormat bf = b.blockFormat();
                bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                c.setBlockFormat(bf);
                layOutCompletely(doc);
                changed = true;
                break; // everything after it moves; measure again
            }
        }
        if (!changed)
            changed = keepBoxTogether(doc, pageHeight);
        if (!changed)
            return;
    }
}

void applyPageBreaks(QTextDocument &doc)
{
    for (QTextBlock b : allBlocks(doc)) {
        if (b.text() != kPageBreakMarker)
            continue;
        // The marker's own block stays, empty and flat, and the page ends after it.
        QTextCursor c(b);
        c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        c.removeSelectedText();
        QTextBlockFormat bf;
        bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysAfter);
        bf.setLineHeight(1, QTextBlockFormat::FixedHeight);
        c.setBlockFormat(bf);
        QTextCharFormat tiny;
        tiny.setFontPointSize(1);
        c.setBlockCharFormat(tiny);
    }
}

// Bumped whenever a change here changes how the manuals look, so that the committed PDF files
// count as out of date until they are made again.
constexpr int kRendererRevision = 1;

// The pictures that the document shows, by the names its source gives them, in order.
QStringList pictureNames(const QString &markdown)
{
    QTextDocument doc;
    doc.setMarkdown(preprocess(markdown), QTextDocument::MarkdownDialectGitHub);
    QStringList names;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isImageFormat())
                names << f.toImageFormat().name();
        }
    }
    return names;
}

// How a digest is written into the PDF: its Creator field, which Qt writes as UTF-16 (big
// endian, as PDF text strings are) or, in other versions, as plain ASCII.
QByteArray creatorText(const QString &digest)
{
    return QStringLiteral("zport-docgen, sources %1").arg(digest).toLatin1();
}

} // namespace

bool loadFonts(const QString &fontDir, QString *error)
{
    const struct
    {
        const char *file;
        QString *family;
    } files[] = {{"Vera.ttf", &gSans},    {"VeraBd.ttf", nullptr},  {"VeraIt.ttf", nullptr},
                 {"VeraBI.ttf", nullptr}, {"VeraMono.ttf", &gMono}, {"VeraMoBd.ttf", nullptr}};
    for (const auto &file : files) {
        const QString path = QDir(fontDir).filePath(QString::fromLatin1(file.file));
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0 || QFontDatabase::applicationFontFamilies(id).isEmpty()) {
            if (error != nullptr)
                *error = QStringLiteral("cannot load font %1").arg(path);
            return false;
        }
        if (file.family != nullptr)
            *file.family = QFontDatabase::applicationFontFamilies(id).first();
    }
    return true;
}

QString sourceDigest(const ManualJob &job, QStringList *problems)
{
    QFile source(job.sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        if (problems != nullptr)
            *problems << QStringLiteral("cannot read %1").arg(job.sourcePath);
        return QString();
    }
    const QByteArray markdown = source.readAll();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArray::number(kRendererRevision));
    hash.addData(job.title.toUtf8());
    hash.addData(job.footer.toUtf8());
    hash.addData(markdown);
    const QDir base = QFileInfo(job.sourcePath).absoluteDir();
    for (const QString &name : pictureNames(QString::fromUtf8(markdown))) {
        hash.addData(name.toUtf8());
        QFile picture(base.filePath(name));
        if (picture.open(QIODevice::ReadOnly))
            hash.addData(picture.readAll());
        else if (problems != nullptr)
            *problems << QStringLiteral("picture %1 cannot be read").arg(name);
    }
    return QString::fromLatin1(hash.result().toHex());
}

bool carriesDigest(const QByteArray &pdf, const QString &digest)
{
    const QByteArray text = creatorText(digest);
    QByteArray wide;
    for (const char c : text) {
        wide.append('\0');
        wide.append(c);
    }
    return pdf.contains(wide) || pdf.contains(text);
}

RenderResult renderManual(const ManualJob &job)
{
    RenderResult result;
    QFile source(job.sourcePath);
    if (!source.open(QIODevice::ReadOnly)) {
        result.problems << QStringLiteral("cannot read %1").arg(job.sourcePath);
        return result;
    }
    const QString markdown = preprocess(QString::fromUtf8(source.readAll()));
    const QDir base = QFileInfo(job.sourcePath).absoluteDir();

    QPdfWriter writer(job.outputPath);
    writer.setPdfVersion(QPagedPaintDevice::PdfVersion_1_4);
    writer.setResolution(int(kDeviceDpi));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    writer.setTitle(job.title);
    // The PDF records what it was made from; the test manuals_up_to_date compares.
    writer.setCreator(QString::fromLatin1(creatorText(sourceDigest(job, nullptr))));

    const QSizeF pageMm = QPageSize(QPageSize::A4).size(QPageSize::Millimeter);
    const qreal bodyWidthMm = pageMm.width() - kMarginLeftMm - kMarginRightMm;
    const qreal bodyHeightMm = pageMm.height() - kMarginTopMm - kMarginBottomMm;
    const QSizeF body(mmToDevice(bodyWidthMm), mmToDevice(bodyHeightMm));

    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&writer);
    doc.setDefaultFont(QFont(gSans, kBodyPointSize));
    doc.setDocumentMargin(0);
    doc.setIndentWidth(ptToFormat(16));
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);

    for (QTextBlock block : allBlocks(doc)) {
        const int level = block.blockFormat().headingLevel();
        if (level > 0)
            styleHeading(block, level);
        else
            styleBodyBlock(block);
    }
    forEachTable(doc.rootFrame(), styleTable);
    placePictures(doc, base, mmToFormat(bodyWidthMm), result.problems);
    boxRuns(doc, runsOf(doc, isCodeBlock),
            [](const QString &) { return boxFormat(kCodeBackground, kCodeBorder, ptToFormat(5)); });
    boxRuns(doc, runsOf(doc, [](const QTextBlock &b) { return quoteLevel(b) > 0; }),
            [](const QString &first) {
                static const QRegularExpression caution(
                    QStringLiteral("^\\W*(Caution|Warning|Important)\\b"));
                return caution.match(first).hasMatch()
                           ? boxFormat(kCautionBackground, kCautionBorder, ptToFormat(7))
                           : boxFormat(kNoteBackground, kNoteBorder, ptToFormat(7));
            });
    const std::vector<ContentsEntry> contents = insertContents(doc);
    applyPageBreaks(doc);
    collapseBlocksAroundFrames(doc);

    std::vector<Reference> references = resolveReferences(doc, result.problems);

    doc.setPageSize(body);
    keepHeadingsWithText(doc, body.height());
    // Page numbers of the contents and of the references. Writing them may move text a little;
    // repeat until they no longer change.
    for (int pass = 0; pass < 4; ++pass) {
        bool changed = false;
        for (const ContentsEntry &entry : contents) {
            QTextCursor c = entry.pageCell.firstCursorPosition();
            c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            const QString page = QString::number(pageOf(doc, entry.heading, body.height()));
            if (c.selectedText() != page) {
                c.insertText(page);
                changed = true;
            }
        }
        for (Reference &reference : references) {
            const QString page = QString::number(pageOf(doc, reference.heading, body.height()));
            if (reference.number.selectedText() != page) {
                const int at = reference.number.selectionStart();
                reference.number.insertText(page);
                reference.number.setPosition(at);
                reference.number.setPosition(at + page.size(), QTextCursor::KeepAnchor);
                changed = true;
            }
        }
        if (!changed)
            break;
        keepHeadingsWithText(doc, body.height());
    }
    layOutCompletely(doc);

    const int pages = doc.pageCount();
    QPainter painter;
    if (!painter.begin(&writer)) {
        result.problems << QStringLiteral("cannot write %1").arg(job.outputPath);
        return result;
    }
    QFont footerFont(gSans);
    footerFont.setPointSizeF(7.5);
    const qreal left = mmToDevice(kMarginLeftMm);
    const qreal top = mmToDevice(kMarginTopMm);
    const qreal footerY = mmToDevice(pageMm.height() - kFooterBaselineMm);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.save();
        painter.translate(left, top - page * body.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(QPointF(0, page * body.height()), body);
        // A few device pixels less at the foot: a picture that starts the next page must not
        // leave its top edge on this one.
        painter.setClipRect(context.clip.adjusted(0, 0, 0, -3));
        doc.documentLayout()->draw(&painter, context);
        painter.restore();
        // Viewers that draw the clipped picture at a coarse scale may still show a line of it
        // at the foot of the body: the footer area is painted over.
        painter.fillRect(QRectF(0, top + body.height() - 3, mmToDevice(pageMm.width()),
                                mmToDevice(pageMm.height()) - top - body.height() + 3),
                         Qt::white);

        painter.setPen(QPen(kRule, mmToDevice(0.2)));
        painter.drawLine(QPointF(left, footerY - mmToDevice(4.5)),
                         QPointF(left + body.width(), footerY - mmToDevice(4.5)));
        painter.setFont(footerFont);
        painter.setPen(kMuted);
        const QRectF line(left, footerY - mmToDevice(4), body.width(), mmToDevice(5));
        painter.drawText(line, Qt::AlignLeft | Qt::AlignBottom, job.footer);
        painter.drawText(line, Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("Page %1 of %2").arg(page + 1).arg(pages));
    }
    painter.end();

    result.written = true;
    result.pages = pages;
    result.bytes = QFileInfo(job.outputPath).size();
    return result;
}

} // namespace docgen
