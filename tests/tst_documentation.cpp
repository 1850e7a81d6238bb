// The manuals: the user manual carried in the resource tree, the configuration manual where the
// program opens it, and the Markdown sources they are made from, checked against the texts and
// versions that the program itself shows.
#include "device/UsbIds.h"
#include "ui/ConnectionMessages.h"
#include "ui/DeviceLog.h"
#include "ui/FirmwareVersion.h"
#include "ui/HelpTexts.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextDocument>
#include <QtTest>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString source(const char *name)
{
    return QString::fromUtf8(readAll(QDir(QStringLiteral(ZPORT_DOCS_DIR)).filePath(name)));
}

// What a rich-text message reads as, in one line: rich text shows every run of blanks, tabs and
// line ends as one space.
QString plain(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText().simplified();
}

// The Markdown text as words, without emphasis marks and line breaks.
QString words(const QString &markdown)
{
    QString text = markdown;
    text.remove(QStringLiteral("**"));
    return text.simplified();
}

int pageCount(const QByteArray &pdf)
{
    // Page objects, not the page tree ("/Type /Pages").
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    // All of it: the file holds zero bytes, where fromLatin1(QByteArray) would stop.
    const QString text = QString::fromLatin1(pdf.constData(), pdf.size());
    int count = 0;
    for (auto it = page.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return count;
}

} // namespace

class TestDocumentation : public QObject
{
    Q_OBJECT

private slots:
    void manualIsCarriedAsPdf()
    {
        const QString path = QStringLiteral(":/resources/%1").arg(help::kManualFileName);
        QFile manual(path);
        QVERIFY2(manual.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray pdf = manual.readAll();
        QVERIFY(pdf.startsWith("%PDF-1.4"));
        QVERIFY(pdf.trimmed().endsWith("%%EOF"));
        // Text and the window's pictures: more than a bare page, less than a bloated file.
        QVERIFY2(pdf.size() > 200 * 1024, qPrintable(QString::number(pdf.size())));
        QVERIFY2(pdf.size() < 8 * 1024 * 1024, qPrintable(QString::number(pdf.size())));
        QVERIFY2(pageCount(pdf) >= 8, qPrintable(QString::number(pageCount(pdf))));
        // The pictures are in it, not only referred to.
        QVERIFY(pdf.contains("/Subtype /Image"));
        // The copy in the tree is the one the program carries.
        QCOMPARE(pdf, readAll(QStringLiteral(ZPORT_RESOURCES_DIR "/manual/") +
                              QLatin1String(help::kManualFileName)));
    }

    void configManualLiesWhereTheProgramOpensIt()
    {
        // The build puts it beside the program, at the path ConfigManual() opens.
        const QString path = help::configManualPath(QStringLiteral(ZPORT_APP_DIR));
        const QByteArray pdf = readAll(path);
        QVERIFY2(pdf.startsWith("%PDF-1.4"), qPrintable(path));
        QVERIFY(pdf.trimmed().endsWith("%%EOF"));
        QVERIFY(pageCount(pdf) >= 1);
        QCOMPARE(pdf, readAll(QStringLiteral(ZPORT_RESOURCES_DIR
                                             "/documentation/Korvel_Z-PORT_Config_manual.pdf")));
    }

    // Every message box that a scan can end in, as the manual quotes it.
    void manualQuotesEveryConnectionMessage_data()
    {
        QTest::addColumn<int>("code");
        for (int code : {2, 3, 4, 5, 6})
            QTest::newRow(qPrintable(QString::number(code))) << code;
    }

    void manualQuotesEveryConnectionMessage()
    {
        QFETCH(int, code);
        const QString manual = words(source("manual.md"));
        const ConnectionReaction reaction = connectionReaction(code);
        QVERIFY(!reaction.boxTitle.isEmpty());
        QVERIFY2(manual.contains(reaction.boxTitle), qPrintable(reaction.boxTitle));
        QVERIFY2(manual.contains(reaction.statusText), qPrintable(reaction.statusText));
        // The bold heading of the box, and the first sentence after it.
        static const QRegularExpression heading(QStringLiteral("<b>(.*?)</b>"));
        const QString boxHeading = heading.match(reaction.boxText).captured(1);
        QVERIFY(!boxHeading.isEmpty());
        QVERIFY2(manual.contains(boxHeading), qPrintable(boxHeading));
        const QString text = plain(reaction.boxText);
        const QString firstSentence =
            text.mid(boxHeading.size()).trimmed().section(QLatin1Char('.'), 0, 0);
        QVERIFY2(manual.contains(firstSentence), qPrintable(firstSentence));
    }

    void manualQuotesTheProgramsTexts()
    {
        const QString manual = words(source("manual.md"));
        QVERIFY(manual.contains(QStringLiteral("\"") + connectionReaction(0).statusText +
                                QStringLiteral("\"")));
        QVERIFY(manual.contains(QLatin1String(kSupportNumber)));
        QVERIFY(manual.contains(QLatin1String(help::kVersion)));
        QVERIFY(manual.contains(QStringLiteral("(build %1)").arg(QLatin1String(help::kBuild))));
        QVERIFY(manual.contains(QStringLiteral("CPU firmware ") + kCarriedCpuVersion.toString()));
        QVERIFY(manual.contains(QStringLiteral("FPGA firmware ") + kCarriedFpgaVersion.toString()));
        // The two texts of the log view, spelled as the program spells them.
        QVERIFY(manual.contains(QLatin1String(devicelog::kNoLogsText)));
        QVERIFY(manual.contains(QString::fromLatin1(devicelog::kOutOfDateText).simplified()));
        // The rule file that the manual tells Linux users to install matches the program's
        // vendor ID.
        QVERIFY(manual.contains(QStringLiteral("ATTRS{idVendor}==\"%1\"")
                                    .arg(zport::kVendorId, 4, 16, QLatin1Char('0'))));
        QVERIFY(source("config-manual.md").contains(QLatin1String(kSupportNumber)));
    }

    void everyPictureIsThereAndShown()
    {
        const QDir docs(QStringLiteral(ZPORT_DOCS_DIR));
        static const QRegularExpression picture(QStringLiteral("!\\[[^\\]]+\\]\\(([^ )]+)"));
        QSet<QString> shown;
        for (const char *name : {"manual.md", "config-manual.md"}) {
            auto it = picture.globalMatch(source(name));
            QVERIFY(it.hasNext());
            while (it.hasNext()) {
                const QString file = it.next().captured(1);
                QVERIFY2(!QImage(docs.filePath(file)).isNull(), qPrintable(file));
                shown.insert(QDir::cleanPath(docs.filePath(file)));
            }
        }
        // No picture in docs/images that no manual shows.
        const QDir images(docs.filePath(QStringLiteral("images")));
        for (const QString &file : images.entryList({QStringLiteral("*.png")}, QDir::Files))
            QVERIFY2(shown.contains(QDir::cleanPath(images.filePath(file))), qPrintable(file));
    }

    void referencesNameExistingHeadings()
    {
        // [text](#anchor) must name a heading of the same file (as Markdown viewers make them).
        for (const char *name : {"manual.md", "config-manual.md"}) {
            const QString text = source(name);
            QSet<QString> anchors;
            static const QRegularExpression heading(QStringLiteral("^#+ (.+)$"),
                                                    QRegularExpression::MultilineOption);
            for (auto it = heading.globalMatch(text); it.hasNext();) {
                QString anchor;
                for (const QChar c : it.next().captured(1).toLower()) {
                    if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
                        anchor += c;
                    else if (c == QLatin1Char(' '))
                        anchor += QLatin1Char('-');
                }
                anchors.insert(anchor);
            }
            static const QRegularExpression link(QStringLiteral("\\]\\(#([^)]+)\\)"));
            for (auto it = link.globalMatch(text); it.hasNext();) {
                const QString target = it.next().captured(1);
                QVERIFY2(anchors.contains(target),
                         qPrintable(QLatin1String(name) + QStringLiteral(": #") + target));
            }
        }
    }
};

QTEST_MAIN(TestDocumentation)
#include "tst_documentation.moc"
