// The plain rules behind the window's device commands: log text, settings, serial numbers,
// the About text.
#include "ui/DeviceLog.h"
#include "ui/HelpTexts.h"
#include "ui/SerialNumberInput.h"
#include "ui/UserSettings.h"

#include <QtTest>

namespace {

QByteArray reply(const QByteArray &head)
{
    QByteArray bytes = head.left(64);
    bytes.append(QByteArray(64 - bytes.size(), '\0'));
    return bytes;
}

} // namespace

class TestWindowHelpers : public QObject
{
    Q_OBJECT

private slots:
    void logLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("end");

        QTest::newRow("plain line") << reply("boot ok") << "boot ok\n" << false;
        QTest::newRow("end marker") << reply(QByteArray("\x00\xFF\xFF", 3)) << "\n" << true;
        QTest::newRow("end marker needs all three bytes")
            << reply(QByteArray("\x00\xFF\xFE", 3)) << "\n"
            << false;
        QTest::newRow("CR with bytes after it") << reply("input lost\rgarbage") << "input lost\n"
                                                << false;
        QTest::newRow("LF ends the text") << reply("one\ntwo") << "one\n" << false;
        QTest::newRow("leading zero byte: empty line") << reply(QByteArray("\x00log", 4)) << "\n"
                                                       << false;
        QTest::newRow("high bytes and tabs dropped") << reply(QByteArray("a\tb\x80"
                                                                         "c\xFF"
                                                                         "d\x7F"
                                                                         "e",
                                                                         10))
                                                     << "abcde\n"
                                                     << false;
        QTest::newRow("64 bytes without a terminator")
            << QByteArray(64, 'x') << QString(64, 'x') + "\n"
            << false;
    }

    void logLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(bool, end);
        const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.constData());
        QCOMPARE(devicelog::isEndMarker(data), end);
        QCOMPARE(devicelog::lineText(data), text);
    }

    void lossOfSignalCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("index");
        QTest::newRow("Black") << 0 << 0;
        QTest::newRow("Blue Matte") << 1 << 1;
        QTest::newRow("100% Color Bars is 6") << 6 << 2;
        QTest::newRow("2 has no entry") << 2 << 0;
        QTest::newRow("3 has no entry") << 3 << 0;
        QTest::newRow("255") << 255 << 0;
    }

    void lossOfSignalCodes()
    {
        QFETCH(int, code);
        QFETCH(int, index);
        QCOMPARE(usersettings::lossOfSignalIndex(code), index);
        if (index != 0 || code == 0)
            QCOMPARE(usersettings::lossOfSignalCode(index), code);
    }

    void settingsCommandCarriesLowBytes()
    {
        QCOMPARE(usersettings::settingsCommand(6, 1, 2, 3), QByteArray::fromHex("f006010203"));
        QCOMPARE(usersettings::settingsCommand(0x106, -1, 0, 3), QByteArray::fromHex("f006ff0003"));
        QCOMPARE(usersettings::validSetting(9), 0);
        QCOMPARE(usersettings::validSetting(-1), 0);
        QCOMPARE(usersettings::validSetting(3), 3);
    }

    void serialNumberPattern_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("K and seven digits") << "K1234567" << true;
        QTest::newRow("lower-case k") << "k1234567" << false;
        QTest::newRow("leading space") << " K1234567" << false;
        QTest::newRow("trailing space") << "K1234567 " << false;
        QTest::newRow("six digits") << "K123456" << false;
        QTest::newRow("eight digits") << "K12345678" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("K١٢٣٤٥٦٧") << false;
        QTest::newRow("non-ASCII letter") << QString::fromUtf8("Ḱ1234567") << false;
        QTest::newRow("with the 00 prefix") << "00K1234567" << false;
    }

    void serialNumberPattern()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(serialNumberAccepted(text), accepted);
        if (accepted)
            QCOMPARE(serialNumberToSend(text), QByteArray("00") + text.toUtf8());
    }

    void aboutText_data()
    {
        QTest::addColumn<bool>("developer");
        QTest::addColumn<QString>("heading");
        QTest::newRow("normal") << false << "<p><b>Korvel Z-PORT Updater</b><br>Version 1.5.6</p>";
        QTest::newRow("developer")
            << true << "<p><b>Korvel Z-PORT Updater</b><br>Version 1.5.6 (build 19)</p>";
    }

    void aboutText()
    {
        QFETCH(bool, developer);
        QFETCH(QString, heading);
        const QString text = help::aboutText(developer, QStringLiteral("5.15.8"));
        QVERIFY(text.startsWith(heading + "<p><br><br>This application updates and controls "
                                          "Korvel Z-PORT products.<br>A USB connection is "
                                          "required.</p><p><br>This program uses the <a href=\""));
        QVERIFY(
            text.contains("\">Qt cross-platform library</a> which is licensed under <a href=\""));
        QVERIFY(text.endsWith("\">LGPLv3</a>.</p><p>Using Qt Version: 5.15.8</p>"));
    }

    void configManualBesideProgram()
    {
        QCOMPARE(help::configManualPath("/opt/zport/bin"),
                 QStringLiteral("/opt/zport/bin/documentation/Korvel_Z-PORT_Config_manual.pdf"));
    }
};

QTEST_GUILESS_MAIN(TestWindowHelpers)
#include "tst_windowhelpers.moc"
