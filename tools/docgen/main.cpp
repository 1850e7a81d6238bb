// zport-docgen: renders the updater's two manuals from their Markdown sources to PDF.
//
//   zport-docgen [--strict] <docs-dir> <resources-dir>
//
// reads <docs-dir>/manual.md and <docs-dir>/config-manual.md (pictures beside them, in
// <docs-dir>/images) and writes
//   <resources-dir>/manual/Korvel_Z-PORT_Manual_v1.5.6.pdf           (carried in the program)
//   <resources-dir>/documentation/Korvel_Z-PORT_Config_manual.pdf   (installed beside it)
// A picture that cannot be read is drawn as a marked empty box and reported; with --strict
// that, and a reference to a heading that does not exist, make the run fail. Text is set in the
// Vera fonts only (ZPORT_VERA_FONT_DIR).
//
//   zport-docgen --check <docs-dir> <resources-dir>
//
// writes nothing: it fails when a PDF under <resources-dir> was not made from the sources as they
// are now (each PDF carries a digest of its Markdown, its pictures and the renderer's revision).

#include "ManualRenderer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

#ifndef ZPORT_VERA_FONT_DIR
#define ZPORT_VERA_FONT_DIR "/usr/share/fonts/truetype/ttf-bitstream-vera"
#endif

int main(int argc, char **argv)
{
    // Rendering needs no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QStringList args = app.arguments();
    args.removeFirst();
    const bool strict = args.removeAll(QStringLiteral("--strict")) > 0;
    const bool check = args.removeAll(QStringLiteral("--check")) > 0;
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: zport-docgen [--strict] <docs-dir> <resources-dir>\n"
                             "       zport-docgen --check <docs-dir> <resources-dir>\n");
        return 2;
    }
    const QDir docs(args.at(0));
    const QDir resources(args.at(1));

    QString error;
    const QString fontDir =
        qEnvironmentVariable("ZPORT_VERA_FONT_DIR", QStringLiteral(ZPORT_VERA_FONT_DIR));
    if (!docgen::loadFonts(fontDir, &error)) {
        std::fprintf(stderr, "zport-docgen: %s\n", qPrintable(error));
        return 1;
    }

    const docgen::ManualJob jobs[] = {
        {docs.filePath(QStringLiteral("manual.md")),
         resources.filePath(QStringLiteral("manual/Korvel_Z-PORT_Manual_v1.5.6.pdf")),
         QStringLiteral("Korvel Z-PORT Updater 1.5.6 User Manual"),
         QStringLiteral("Korvel Z-PORT Updater 1.5.6 \u2013 User Manual")},
        {docs.filePath(QStringLiteral("config-manual.md")),
         resources.filePath(QStringLiteral("documentation/Korvel_Z-PORT_Config_manual.pdf")),
         QStringLiteral("Korvel Z-PORT Configuration Manual"),
         QStringLiteral("Korvel Z-PORT \u2013 Configuration Manual")},
    };

    if (check) {
        int stale = 0;
        for (const docgen::ManualJob &job : jobs) {
            QStringList problems;
            const QString digest = docgen::sourceDigest(job, &problems);
            QFile pdf(job.outputPath);
            const bool current = problems.isEmpty() && pdf.open(QIODevice::ReadOnly) &&
                                 docgen::carriesDigest(pdf.readAll(), digest);
            for (const QString &problem : problems)
                std::fprintf(stderr, "zport-docgen: %s\n", qPrintable(problem));
            if (!current) {
                std::fprintf(stderr,
                             "zport-docgen: %s was not made from %s as it is now; make the "
                             "manuals again (target zport-regenerate-manuals)\n",
                             qPrintable(job.outputPath), qPrintable(job.sourcePath));
                ++stale;
            }
        }
        return stale == 0 ? 0 : 1;
    }

    int status = 0;
    for (const docgen::ManualJob &job : jobs) {
        if (!QDir().mkpath(QFileInfo(job.outputPath).absolutePath())) {
            std::fprintf(stderr, "zport-docgen: cannot create the folder of %s\n",
                         qPrintable(job.outputPath));
            return 1;
        }
        const docgen::RenderResult result = docgen::renderManual(job);
        for (const QString &problem : result.problems)
            std::fprintf(stderr, "zport-docgen: %s: %s\n", qPrintable(job.sourcePath),
                         qPrintable(problem));
        if (!result.written)
            return 1;
        if (strict && !result.problems.isEmpty())
            status = 1;
        std::printf("%s: %d pages, %lld bytes\n", qPrintable(job.outputPath), result.pages,
                    static_cast<long long>(result.bytes));
    }
    return status;
}
