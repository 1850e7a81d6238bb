// The resource tree that the executable carries: every path the program opens.
#include "FirmwareImageFormat.h"

#include <QFile>
#include <QFontDatabase>
#include <QImage>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void filesOpenWithTheirContents_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("size"); // -1: any
        QTest::addColumn<QByteArray>("signature");

        const QByteArray png("\x89PNG\r\n\x1a\n", 8);
        QTest::newRow("HDMI picture") << ":/gui/media/png/zportHDMI.png" << qint64(-1) << png;
        QTest::newRow("SDI picture") << ":/gui/media/png/zportSDI.png" << qint64(-1) << png;
        QTest::newRow("unknown picture") << ":/gui/media/png/zportUnknown.png" << qint64(-1) << png;
        QTest::newRow("none picture") << ":/gui/media/png/zportNone.png" << qint64(-1) << png;
        QTest::newRow("font") << ":/fonts/Vera.ttf" << qint64(65932)
                              << QByteArray("\x00\x01\x00\x00", 4);
        QTest::newRow("CPU image")
            << ":/resources/Z-PORT_1_09.img" << qint64(180072) << QByteArray("\x43\x59");
        QTest::newRow("FPGA image") << ":/resources/Z-PORT_1_13.bin" << qint64(803398)
                                    << QByteArray(16, '\xFF') + QByteArray("\x55\x99\xAA\x66");
        QTest::newRow("qt.conf") << ":/resources/configuration/qt.conf" << qint64(52)
                                 << QByteArray(
                                        "[Paths]\r\nLD_LIBRARY_PATH=`pwd`\r\nQT_QPA_FONTDIR=`pwd`");
    }

    void filesOpenWithTheirContents()
    {
        QFETCH(QString, path);
        QFETCH(qint64, size);
        QFETCH(QByteArray, signature);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        if (size >= 0)
            QCOMPARE(qint64(data.size()), size);
        QVERIFY(data.startsWith(signature));
    }

    void picturesHaveTheWindowSize_data()
    {
        QTest::addColumn<QString>("path");
        for (const char *name : {"zportHDMI", "zportSDI", "zportUnknown", "zportNone"})
            QTest::newRow(name) << QStringLiteral(":/gui/media/png/%1.png").arg(name);
    }

    void picturesHaveTheWindowSize()
    {
        QFETCH(QString, path);
        const QImage image(path);
        QCOMPARE(image.size(), QSize(440, 293));
    }

    void misspeltPathYieldsNothing()
    {
        QVERIFY(!QFile(":/gui/media/png/zportHDMl.png").open(QIODevice::ReadOnly));
        QVERIFY(QImage(":/gui/media/png/zportHDMl.png").isNull());
    }

    void fontLoads()
    {
        const int id = QFontDatabase::addApplicationFont(":/fonts/Vera.ttf");
        QVERIFY(id != -1);
        QCOMPARE(QFontDatabase::applicationFontFamilies(id), QStringList{"Bitstream Vera Sans"});
    }

    void carriedImagesCarryTheirVersions_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<char>("kind");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::newRow("CPU") << ":/resources/Z-PORT_1_09.img" << zport::kVersionKindCpu << 1 << 9;
        QTest::newRow("FPGA") << ":/resources/Z-PORT_1_13.bin" << zport::kVersionKindFpga << 1
                              << 13;
    }

    void carriedImagesCarryTheirVersions()
    {
        QFETCH(QString, path);
        QFETCH(char, kind);
        QFETCH(int, major);
        QFETCH(int, minor);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        std::uint16_t readMajor = 0;
        std::uint16_t readMinor = 0;
        QVERIFY(zport::readVersionRecord(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                         std::size_t(data.size()), kind, readMajor, readMinor));
        QCOMPARE(int(readMajor), major);
        QCOMPARE(int(readMinor), minor);
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
