// A firmware update through the real window against the simulated Z-PORT.
#include "ModalAnswerer.h"
#include "SignalLog.h"
#include "SimTestSupport.h"
#include "WindowDriver.h"

#include "app/Startup.h"
#include "device/WinHID.h"
#include "threads/Crc32.h"
#include "threads/DisconnectDetectThread.h"
#include "threads/DiscoverThread.h"
#include "threads/MetaTypes.h"
#include "threads/UpdateFPGAThread.h"
#include "ui/ConnectionMessages.h"
#include "ui/MainWindow.h"
#include "ui/ModuleInfo.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <memory>

using namespace simtest;

namespace {

QByteArray resource(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString plain(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    // Rich text shows each run of blanks as one space; compare the words.
    return document.toPlainText().replace('\n', ' ').simplified();
}

// A small image of each kind that passes the checks: signature, then filler.
QByteArray smallCpuImage(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + 3) & 0xFF);
    image[0] = 0x43;
    image[1] = 0x59;
    return image;
}

QByteArray smallFpgaImage(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 13 + 5) & 0xFF);
    image.replace(0, 20, QByteArray(16, '\xFF') + QByteArray("\x55\x99\xAA\x66", 4));
    return image;
}

QByteArray flashBytes(int deviceId, std::size_t address, int size)
{
    QByteArray bytes;
    zsim::Bus::instance().withDevice(deviceId, [&](zsim::DeviceModel &m) {
        bytes = QByteArray(reinterpret_cast<const char *>(m.flash().data() + address), size);
    });
    return bytes;
}

QByteArray expectedFpgaHeader(const QByteArray &image)
{
    QByteArray header(20, '\0');
    const auto put = [&header](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char(v >> (8 * i));
    };
    put(0, 0xAAAA);
    put(4, 0x60000);
    put(8, std::uint32_t(image.size()));
    put(16, crc32(0, reinterpret_cast<const std::uint8_t *>(image.constData()),
                  std::uint32_t(image.size())));
    return header;
}

} // namespace

class TestUpdateWorkflow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<MainWindow> mWindow;
    std::unique_ptr<ModalAnswerer> mAnswerer;
    std::unique_ptr<SignalLog> mProgress;
    int mDevice = 0;
    QTemporaryDir mFiles;

    template <typename T> T *deviceWidget(const char *name) const
    {
        return windowtest::deviceWidget<T>(*mWindow, name);
    }
    QString status() const { return windowtest::statusText(*mWindow); }
    QString progressMessage() const
    {
        return deviceWidget<QLabel>("mUpdateProgressMessageLabel")->text();
    }
    int progressValue() const
    {
        return deviceWidget<QProgressBar>("mUpdateProgressProgressBar")->value();
    }
    bool scanPageShown() const
    {
        return mWindow->findChild<QWidget *>("mUnknownWidget")->isVisible();
    }

    // A connected window showing a device at the given versions, refreshed once.
    void connectDevice(bool developerMode, int cpuMinor = 8, int fpgaMinor = 12)
    {
        zsim::DeviceConfig config;
        config.cpuMinor = std::uint16_t(cpuMinor);
        config.fpgaMinor = std::uint16_t(fpgaMinor);
        mDevice = zsim::Bus::instance().plug(config);

        mWindow = std::make_unique<MainWindow>(developerMode);
        fixWindowHeight(*mWindow);
        mWindow->discoverThread()->setRetryInterval(5);
        mWindow->disconnectThread()->setPollInterval(20);
        mWindow->updateThread()->setPauses(0, 0, 0);
        mWindow->updateThread()->setEraseTimeout(200);
        mWindow->show();
        mProgress = std::make_unique<SignalLog>();
        mProgress->watch(mWindow->updateThread(), &UpdateFPGAThread::PostUpdateProgressAmount,
                         "progress");
        mProgress->watch(mWindow->updateThread(), &UpdateFPGAThread::PostFPGAUpdateComplete,
                         "result");

        mAnswerer = std::make_unique<ModalAnswerer>(QMessageBox::Ok);
        QVERIFY(windowtest::scan(*mWindow));
        mWindow->mUpdateZportUI();
        mAnswerer->clear();
        zsim::Bus::instance().clearRecord();
    }

    void pressUpdate() { deviceWidget<QPushButton>("mUpdatePushButton")->click(); }

    // Waits until the update has reported its end in a box.
    bool waitForResultBox(int milliseconds)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds) {
            for (const auto &box : mAnswerer->boxes()) {
                if (box.title == "Software Update Results" && !mWindow->updateThread()->isRunning())
                    return true;
            }
            QTest::qWait(10);
        }
        return false;
    }

    bool sawSuccess() const
    {
        for (const auto &box : mAnswerer->boxes()) {
            if (box.text.contains("Update Successful!"))
                return true;
        }
        return false;
    }

    QString writeFile(const QString &name, const QByteArray &data)
    {
        const QString path = mFiles.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        return path;
    }

    // Answers the file dialogs in order; an empty answer is a cancelled dialog.
    void scriptFileDialogs(QStringList answers, QStringList *captions)
    {
        mWindow->setFileChooser([answers, captions](QWidget *, const QString &caption,
                                                    const QString &dir,
                                                    const QString &filter) mutable {
            captions->append(caption + " | " + filter +
                             (dir == QDir::home().absolutePath() ? "" : " | " + dir));
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
    }

private slots:
    void initTestCase()
    {
        registerUint32MetaType();
        registerErrorCodesMetaType();
        gWinHID.setReadTimeout(200);
        QVERIFY(mFiles.isValid());
    }

    void init() { zsim::Bus::instance().reset(); }

    void cleanup()
    {
        mAnswerer.reset();
        mProgress.reset();
        mWindow.reset();
        gWinHID.close();
    }

    void updateWithCarriedImages()
    {
        connectDevice(false);
        QStringList midway;
        QObject::connect(mWindow->updateThread(), &UpdateFPGAThread::PostFPGAUpdateComplete,
                         mWindow.get(), [&](const QString &name, ErrorCodes) {
                             // Runs after the window's own slot for the same result.
                             midway << name + ": " + status() + " / " + progressMessage();
                         });
        pressUpdate();
        QCOMPARE(progressMessage(), QStringLiteral("Updating CPU..."));
        QVERIFY(waitForResultBox(120000));
        QCoreApplication::sendPostedEvents();

        QCOMPARE(mAnswerer->titles(), QStringList{"Software Update Results"});
        QCOMPARE(plain(mAnswerer->boxes()[0].text),
                 QStringLiteral("Update Successful! Please power-cycle the Z-PORT before using. "
                                "The update will not take effect until you do."));
        // The second line is read while the success box is open: the status line changes only
        // when the box is closed.
        QCOMPARE(midway, (QStringList{"CPU: CPU Update Complete! / Updating FPGA...",
                                      "FPGA: CPU Update Complete! / Complete!"}));
        QCOMPARE(status(), QStringLiteral("FPGA Update Complete!"));
        QCOMPARE(progressMessage(), QStringLiteral("Complete!"));
        QCOMPARE(progressValue(), 0);

        // Progress: one value per full page, 0 to 49 for the CPU image, 50 to 99 for the FPGA.
        const auto values = mProgress->argumentsOf("progress");
        QCOMPARE(values.size(), 703 + 3138);
        QCOMPARE(values.first()[0].toInt(), 0);
        QCOMPARE(values[702][0].toInt(), 49);
        QCOMPARE(values[703][0].toInt(), 50);
        QCOMPARE(values.last()[0].toInt(), 99);

        const QByteArray cpu = resource(":/resources/Z-PORT_1_09.img");
        const QByteArray fpga = resource(":/resources/Z-PORT_1_13.bin");
        QVERIFY(flashBytes(mDevice, 0, cpu.size()) == cpu);
        QCOMPARE(flashBytes(mDevice, 0x60000, 20), expectedFpgaHeader(fpga));
        QVERIFY(flashBytes(mDevice, 0x60100, fpga.size()) == fpga);
        QVERIFY(noProtocolErrors());
        // Update mode was asked for once, by the CPU pass only.
        QCOMPARE(int(sentWithCode(0x0A).size()), 1);

        // After a power cycle the device reports the versions it now holds.
        zsim::Bus::instance().unplug(mDevice);
        QTRY_VERIFY_WITH_TIMEOUT(scanPageShown(), 3000);
        zsim::Bus::instance().replug(mDevice);
        mAnswerer->clear();
        QVERIFY(windowtest::scan(*mWindow));
        mWindow->mUpdateZportUI();
        QCOMPARE(deviceWidget<QLineEdit>("mUpdateCurrVersionCPULineEdit")->text(),
                 QStringLiteral("1.9"));
        QCOMPARE(deviceWidget<QLineEdit>("mUpdateCurrVersionFPGALineEdit")->text(),
                 QStringLiteral("1.13"));
    }

    void alreadyUpdatedAsksFirst_data()
    {
        QTest::addColumn<int>("cpuMinor");
        QTest::addColumn<int>("fpgaMinor");
        QTest::addColumn<bool>("refresh");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("updates");

        QTest::newRow("same versions, Yes")
            << 9 << 13 << true << int(QMessageBox::Yes) << true << true;
        QTest::newRow("same versions, Cancel")
            << 9 << 13 << true << int(QMessageBox::Cancel) << true << false;
        QTest::newRow("FPGA differs") << 9 << 12 << true << int(QMessageBox::Ok) << false << true;
        QTest::newRow("fields not yet filled")
            << 9 << 13 << false << int(QMessageBox::Ok) << false << true;
    }

    void alreadyUpdatedAsksFirst()
    {
        QFETCH(int, cpuMinor);
        QFETCH(int, fpgaMinor);
        QFETCH(bool, refresh);
        QFETCH(int, answer);
        QFETCH(bool, asked);
        QFETCH(bool, updates);

        connectDevice(false, cpuMinor, fpgaMinor);
        if (!refresh) {
            deviceWidget<QLineEdit>("mUpdateToVersionCPULineEdit")->setText("0.0");
            deviceWidget<QLineEdit>("mUpdateToVersionFPGALineEdit")->setText("0.0");
        }
        mAnswerer->setAnswers({QMessageBox::StandardButton(answer), QMessageBox::Ok});
        pressUpdate();
        if (asked) {
            QCOMPARE(mAnswerer->boxes().first().title, QStringLiteral("Z-PORT Update"));
            QCOMPARE(plain(mAnswerer->boxes().first().text),
                     QStringLiteral(
                         "Your Z-PORT is already updated to the latest firmware. Update anyways?"));
        }
        if (updates) {
            QVERIFY(mWindow->updateThread()->isRunning());
            QVERIFY(waitForResultBox(120000));
            QVERIFY(sawSuccess());
        } else {
            QVERIFY(!mWindow->updateThread()->isRunning());
            QVERIFY(zsim::Bus::instance().sentReports().empty());
            QCOMPARE(mAnswerer->boxes().size(), 1);
        }
    }

    void secondPressAndScanAreRefusedDuringPass()
    {
        connectDevice(true);
        // Slow flash so the pass is still running while the test presses.
        zsim::Bus::instance().withDevice(mDevice, [](zsim::DeviceModel &m) {
            m.setBusyTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(2));
        });
        pressUpdate();
        QVERIFY(mWindow->updateThread()->isRunning());
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        pressUpdate();
        QCOMPARE(status(), QStringLiteral("Update is already in progress!"));
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        QMetaObject::invokeMethod(mWindow.get(), "findDevicePressed");
        QCOMPARE(status(), QStringLiteral("Update is already in progress!"));
        QVERIFY(!mWindow->discoverThread()->isRunning());
        mWindow->findChild<QLabel *>("appStatusLabel")->clear();
        QCOMPARE(mWindow->ChooseUpdateFiles(), false);
        QCOMPARE(status(), QStringLiteral("Update is already in progress!"));
        QVERIFY(mAnswerer->boxes().isEmpty());

        // Closing is refused while the pass runs.
        QVERIFY(!mWindow->close());
        QVERIFY(mWindow->isVisible());
        QCOMPARE(mAnswerer->titles(), QStringList{"Z-PORT Update"});

        zsim::Bus::instance().withDevice(mDevice, [](zsim::DeviceModel &m) {
            m.setBusyTimes(std::chrono::microseconds(0), std::chrono::microseconds(0));
        });
        QVERIFY(waitForResultBox(120000));
        QVERIFY(sawSuccess());
        QVERIFY(mWindow->close());
    }

    void updateWithChosenFiles()
    {
        connectDevice(true);
        const QByteArray cpu = smallCpuImage(700);
        const QByteArray fpga = smallFpgaImage(1000);
        const QString cpuPath = writeFile("small.img", cpu);
        const QString fpgaPath = writeFile("small.bin", fpga);

        QStringList captions;
        // FPGA dialog cancelled, Retry; FPGA chosen, CPU cancelled, Retry; both chosen.
        scriptFileDialogs({"", fpgaPath, "", fpgaPath, cpuPath}, &captions);
        mAnswerer->setAnswers(
            {QMessageBox::Ok, QMessageBox::Retry, QMessageBox::Retry, QMessageBox::Ok});
        QCOMPARE(mWindow->ChooseUpdateFiles(), false);
        QVERIFY(waitForResultBox(30000));
        QVERIFY(sawSuccess());

        QCOMPARE(captions, (QStringList{"Upload FPGA .bin File | .bin (*.bin)",
                                        "Upload FPGA .bin File | .bin (*.bin)",
                                        "Upload CPU .img File | .img (*.img)",
                                        "Upload FPGA .bin File | .bin (*.bin)",
                                        "Upload CPU .img File | .img (*.img)"}));
        QCOMPARE(mAnswerer->titles(),
                 (QStringList{"Software Update Instructions", "Software Update Instructions",
                              "Software Update Instructions", "Software Update Results"}));
        QCOMPARE(
            plain(mAnswerer->boxes()[0].text),
            QStringLiteral("You are going to be prompted for two files. Please locate the .bin "
                           "file first, then the .img. Both are included in the .zip file you "
                           "downloaded, and should be located wherever it was extracted to."));
        QCOMPARE(
            plain(mAnswerer->boxes()[1].text),
            QStringLiteral(
                "Selection for FPGA .bin file cancelled. Want to try again, or abort update?"));
        QCOMPARE(plain(mAnswerer->boxes()[2].text),
                 QStringLiteral(
                     "Selection for FX3 .img file cancelled. Want to try again, or abort update?"));

        QVERIFY(flashBytes(mDevice, 0, cpu.size()) == cpu);
        QCOMPARE(flashBytes(mDevice, 0x60000, 20), expectedFpgaHeader(fpga));
        QVERIFY(flashBytes(mDevice, 0x60100, fpga.size()) == fpga);
        QVERIFY(noProtocolErrors());
    }

    void chosenFilesCancelled_data()
    {
        QTest::addColumn<QStringList>("dialogs");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("boxes");
        QTest::newRow("instructions cancelled")
            << QStringList{} << QList<int>{QMessageBox::Cancel} << 1;
        QTest::newRow("FPGA dialog, then Cancel")
            << QStringList{""} << QList<int>{QMessageBox::Ok, QMessageBox::Cancel} << 2;
        QTest::newRow("CPU dialog, then Cancel")
            << QStringList{"x.bin", ""} << QList<int>{QMessageBox::Ok, QMessageBox::Cancel} << 2;
    }

    void chosenFilesCancelled()
    {
        QFETCH(QStringList, dialogs);
        QFETCH(QList<int>, answers);
        QFETCH(int, boxes);
        connectDevice(true);
        QStringList captions;
        scriptFileDialogs(dialogs, &captions);
        if (answers.size() == 1)
            mAnswerer->setAnswers({QMessageBox::StandardButton(answers[0])});
        else
            mAnswerer->setAnswers(
                {QMessageBox::StandardButton(answers[0]), QMessageBox::StandardButton(answers[1])});
        QCOMPARE(mWindow->ChooseUpdateFiles(), false);
        QCOMPARE(mAnswerer->boxes().size(), boxes);
        QCOMPARE(captions.size(), dialogs.size());
        QVERIFY(!mWindow->updateThread()->isRunning());
        QVERIFY(zsim::Bus::instance().sentReports().empty());
    }

    void refusedFilesSendNothing_data()
    {
        QTest::addColumn<QByteArray>("cpu");
        QTest::addColumn<QByteArray>("fpga");
        QTest::addColumn<QString>("image");

        const QByteArray goodCpu = smallCpuImage(600);
        const QByteArray goodFpga = smallFpgaImage(900);
        QTest::newRow("files swapped") << goodFpga << goodCpu << "CPU";
        QTest::newRow("empty CPU image") << QByteArray() << goodFpga << "CPU";
        QTest::newRow("CPU image without its signature")
            << QByteArray(600, 'x') << goodFpga << "CPU";
        QTest::newRow("CPU image reaching into the FPGA region")
            << smallCpuImage(393217) << goodFpga << "CPU";
        QTest::newRow("empty FPGA image") << goodCpu << QByteArray() << "FPGA";
        QTest::newRow("FPGA image without its sync word")
            << goodCpu << QByteArray(16, '\xFF') + QByteArray(900, 'y') << "FPGA";
        QTest::newRow("FPGA image over 16 MiB")
            << goodCpu << smallFpgaImage(16 * 1024 * 1024 + 1) << "FPGA";
        QTest::newRow("CPU file missing") << QByteArray("missing") << goodFpga << "CPU";
    }

    void refusedFilesSendNothing()
    {
        QFETCH(QByteArray, cpu);
        QFETCH(QByteArray, fpga);
        QFETCH(QString, image);
        connectDevice(true);
        const QString cpuPath =
            cpu == "missing" ? mFiles.filePath("nowhere.img") : writeFile("refused.img", cpu);
        const QString fpgaPath = writeFile("refused.bin", fpga);
        QStringList captions;
        scriptFileDialogs({fpgaPath, cpuPath}, &captions);
        mAnswerer->setAnswers({QMessageBox::Ok});
        mWindow->ChooseUpdateFiles();

        QVERIFY(!mWindow->updateThread()->isRunning());
        QCOMPARE(mAnswerer->titles(),
                 (QStringList{"Software Update Instructions", "Software Update Results"}));
        const QString text = plain(mAnswerer->boxes()[1].text);
        QVERIFY2(text.startsWith("ERROR: UPDATE OF " + image + " FAILED!"), qPrintable(text));
        QVERIFY2(text.contains("Nothing was written to the Z-PORT."), qPrintable(text));
        QVERIFY(zsim::Bus::instance().sentReports().empty());
        QCOMPARE(status(), QStringLiteral("UPDATE FAILED!"));
        QCOMPARE(progressMessage(), QStringLiteral("FAILED!"));
    }

    void fpgaFileVanishingAfterCpuPassIsNotReplacedByCpuImage()
    {
        connectDevice(true);
        const QString cpuPath = writeFile("vanish.img", smallCpuImage(5000));
        const QString fpgaPath = writeFile("vanish.bin", smallFpgaImage(5000));
        // The FPGA file goes away while the CPU pass runs.
        QObject::connect(mWindow->updateThread(), &UpdateFPGAThread::PostUpdateProgressAmount,
                         mWindow.get(), [fpgaPath](int) { QFile::remove(fpgaPath); });
        QStringList captions;
        scriptFileDialogs({fpgaPath, cpuPath}, &captions);
        mAnswerer->setAnswers({QMessageBox::Ok});
        mWindow->ChooseUpdateFiles();
        QVERIFY(waitForResultBox(30000));
        QVERIFY(!sawSuccess());
        QVERIFY(plain(mAnswerer->boxes().last().text).startsWith("ERROR: UPDATE OF FPGA FAILED!"));
        // One pass only: the CPU image was not programmed a second time.
        QCOMPARE(int(sentWithCode(0x0A).size()), 1);
        QCOMPARE(mProgress->argumentsOf("result").size(), 1);
        QCOMPARE(status(), QStringLiteral("UPDATE FAILED!"));
    }

    void connectionStatusDuringPass_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("finalStatus");
        QTest::addColumn<bool>("scanPage");
        QTest::newRow("0 device gone") << 0 << "Disconnected" << true;
        QTest::newRow("6 second device: only the update failure") << 6 << "UPDATE FAILED!" << false;
        QTest::newRow("9 unknown code") << 9 << "UPDATE FAILED!" << false;
    }

    void connectionStatusDuringPass()
    {
        QFETCH(int, code);
        QFETCH(QString, finalStatus);
        QFETCH(bool, scanPage);
        connectDevice(true);
        zsim::Bus::instance().withDevice(mDevice, [](zsim::DeviceModel &m) {
            m.setBusyTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(2));
        });
        pressUpdate();
        QVERIFY(mWindow->updateThread()->isRunning());
        mWindow->PostConnectionStatus("test", code);
        QVERIFY(waitForResultBox(5000));
        QCoreApplication::sendPostedEvents();
        QVERIFY(!sawSuccess());
        // One failure report only: the pass's own result after the loss adds nothing.
        QCOMPARE(mAnswerer->titles(), QStringList{"Software Update Results"});
        QCOMPARE(plain(mAnswerer->boxes()[0].text),
                 "ERROR: UPDATE OF Z-PORT FAILED! Do not unplug your Z-PORT! Please try to run the "
                 "update again. If that fails, Please call Korvel support @ " +
                     QLatin1String(kSupportNumber));
        QVERIFY(!mWindow->updateThread()->isRunning());
        QCoreApplication::sendPostedEvents();
        QCOMPARE(mAnswerer->boxes().size(), 1);
        QCOMPARE(status(), finalStatus);
        QCOMPARE(scanPageShown(), scanPage);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("at");

        // Writes of a whole update of the carried images, measured on the simulator: about
        // 5,000 for the CPU pass and 22,000 for the FPGA pass. Unplug after N of them.
        for (int n : {1,     2,     3,     5,     8,     12,    20,    30,    50,    80,    120,
                      200,   350,   600,   900,   1400,  2000,  2600,  3300,  4000,  4600,  5000,
                      5100,  5200,  5400,  6000,  7000,  8500,  10000, 11500, 13000, 14500, 16000,
                      17500, 19000, 20500, 22000, 23500, 25000, 26500, 26900})
            QTest::newRow(qPrintable(QStringLiteral("unplug after %1").arg(n))) << "unplug" << n;
        QTest::newRow("silent during CPU pass") << "silent" << 3000;
        QTest::newRow("silent during FPGA pass") << "silent" << 9000;
        QTest::newRow("busy forever") << "busy" << 0;
        QTest::newRow("writes fail for good") << "writes" << 2000;
    }

    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(int, at);
        connectDevice(false);
        auto &bus = zsim::Bus::instance();
        if (fault == "unplug")
            bus.setUnplugAfterWrites(mDevice, at);
        else if (fault == "busy")
            bus.withDevice(mDevice, [](zsim::DeviceModel &m) { m.setBusyForever(true); });
        if (fault == "silent" || fault == "writes") {
            // Strike when the pass has sent that many reports.
            QObject::connect(mWindow->updateThread(), &UpdateFPGAThread::PostUpdateProgressAmount,
                             mWindow.get(), [fault, at, &bus](int) {
                                 if (int(bus.sentReports().size()) < at)
                                     return;
                                 if (fault == "silent")
                                     bus.setDropReplies(-1);
                                 else
                                     bus.setWriteFailures(-1);
                             });
        }
        pressUpdate();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(waitForResultBox(60000));
        // The whole update takes well under a second here, so this bounds the time from the
        // fault to the report.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::sendPostedEvents();
        QVERIFY(!sawSuccess());
        for (const auto &box : mAnswerer->boxes()) {
            QCOMPARE(box.title, QStringLiteral("Software Update Results"));
            QVERIFY(box.text.contains("FAILED!"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(progressMessage(), QStringLiteral("FAILED!"), 5000);

        // The window is usable again: with the device back, a new scan finds it.
        if (fault == "unplug") {
            QTRY_VERIFY_WITH_TIMEOUT(scanPageShown(), 3000);
            bus.replug(mDevice);
        } else {
            bus.setDropReplies(0);
            bus.setWriteFailures(0);
            bus.withDevice(mDevice, [](zsim::DeviceModel &m) { m.setBusyForever(false); });
            bus.unplug(mDevice);
            QTRY_VERIFY_WITH_TIMEOUT(scanPageShown(), 3000);
            bus.replug(mDevice);
        }
        mAnswerer->clear();
        QVERIFY(windowtest::scan(*mWindow));
    }

    void recoveringWriteFailuresStillSucceed()
    {
        connectDevice(false);
        auto &bus = zsim::Bus::instance();
        // Two page-data reports in a row fail to go out, once in each pass; the page is
        // written again.
        int pieces = 0;
        bus.setWriteHook([&bus, &pieces](const zsim::Report &report) {
            if (report[0] != 0x58)
                return;
            ++pieces;
            if (pieces == 1000 || pieces == 1001 || pieces == 12000 || pieces == 12001)
                bus.setWriteFailures(1);
        });
        pressUpdate();
        QVERIFY(waitForResultBox(120000));
        QVERIFY2(sawSuccess(), qPrintable(mAnswerer->boxes().value(0).text));
        const QByteArray fpga = resource(":/resources/Z-PORT_1_13.bin");
        QVERIFY(flashBytes(mDevice, 0x60100, fpga.size()) == fpga);
    }

    void firmwareAgeSelectsEraseScheme_data()
    {
        QTest::addColumn<int>("cpuMajor");
        QTest::addColumn<int>("cpuMinor");
        QTest::addColumn<int>("cpuEraseCommands");
        QTest::newRow("1.8: old scheme, sectors 0-3") << 1 << 8 << 4;
        QTest::newRow("1.10: old scheme") << 1 << 10 << 4;
        QTest::newRow("2.0: normal scheme, one 256 KiB block") << 2 << 0 << 1;
    }

    void firmwareAgeSelectsEraseScheme()
    {
        QFETCH(int, cpuMajor);
        QFETCH(int, cpuMinor);
        QFETCH(int, cpuEraseCommands);
        zsim::DeviceConfig config;
        config.cpuMajor = std::uint16_t(cpuMajor);
        config.cpuMinor = std::uint16_t(cpuMinor);
        mDevice = zsim::Bus::instance().plug(config);
        mWindow = std::make_unique<MainWindow>(false);
        mWindow->updateThread()->setPauses(0, 0, 0);
        mAnswerer = std::make_unique<ModalAnswerer>(QMessageBox::Ok);
        // The versions as discovery reports them.
        mWindow->PostModuleVersion(uint32_t(cpuMajor), uint32_t(cpuMinor), 1, 12);
        QVERIFY(gWinHID.open(0x3A7C, 0x15AD) == 0);
        QVERIFY(mWindow->updateThread()->enableFUMode() == 0);
        zsim::Bus::instance().clearRecord();
        mWindow->updateThread()->setCpuImagePath(":/resources/Z-PORT_1_09.img");
        QVERIFY(mWindow->updateThread()->selectImage(true));
        mWindow->updateThread()->eraseImage();
        QCOMPARE(int(sentWithCode(0x50).size()), cpuEraseCommands);
    }
};

QTEST_MAIN(TestUpdateWorkflow)
#include "tst_updateworkflow.moc"
