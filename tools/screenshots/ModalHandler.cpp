#include "ModalHandler.h"

#include "WindowFrame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QTest>

#include <cstdio>

ModalHandler::ModalHandler(const QDir &output) : mOutput(output)
{
    connect(&mTimer, &QTimer::timeout, this, &ModalHandler::poll);
    mTimer.start(10);
}

void ModalHandler::expect(const QString &title, const QString &file,
                          QMessageBox::StandardButton button, const QString &text)
{
    mExpected.append({title, file, button, text});
}

bool ModalHandler::waitForAll(int timeoutMs)
{
    return waitUntil([this] { return mExpected.isEmpty(); }, timeoutMs);
}

QStringList ModalHandler::takeMissing()
{
    QStringList titles;
    for (const Expectation &e : qAsConst(mExpected))
        titles << e.title;
    mExpected.clear();
    return titles;
}

bool ModalHandler::save(const QImage &image, const QString &file)
{
    const QString path = mOutput.filePath(file);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "zport-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s: %d x %d\n", qPrintable(path), image.width(), image.height());
    mSaved << file;
    return true;
}

void ModalHandler::poll()
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (dialog == nullptr || dialog == mLast)
        return;
    // Let the dialog lay itself out and paint once before it is pictured.
    if (!dialog->isVisible())
        return;
    mLast = dialog;
    for (int i = 0; i < mExpected.size(); ++i) {
        const QString &title = mExpected.at(i).title;
        if (title.isEmpty() || title == dialog->windowTitle()) {
            const Expectation expectation = mExpected.takeAt(i);
            answer(dialog, expectation);
            return;
        }
    }
    mUnexpected << dialog->windowTitle();
    std::fprintf(stderr, "zport-screenshots: closing an unexpected dialog \"%s\"\n",
                 qPrintable(dialog->windowTitle()));
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        if (box->escapeButton() != nullptr)
            box->escapeButton()->click();
        else
            box->reject();
    } else if (auto *plain = qobject_cast<QDialog *>(dialog)) {
        plain->reject();
    }
}

void ModalHandler::answer(QWidget *dialog, const Expectation &expectation)
{
    if (auto *prompt = qobject_cast<QInputDialog *>(dialog)) {
        prompt->setTextValue(expectation.text);
        if (!expectation.file.isEmpty())
            save(framedWindow(prompt->grab(), prompt->windowTitle()), expectation.file);
        prompt->accept();
        return;
    }
    if (!expectation.file.isEmpty())
        save(framedWindow(dialog->grab(), dialog->windowTitle()), expectation.file);
    auto *box = qobject_cast<QMessageBox *>(dialog);
    QAbstractButton *button = box != nullptr ? box->button(expectation.button) : nullptr;
    if (button != nullptr) {
        button->click();
        return;
    }
    std::fprintf(stderr, "zport-screenshots: dialog \"%s\" has not the expected button\n",
                 qPrintable(dialog->windowTitle()));
    if (auto *plain = qobject_cast<QDialog *>(dialog))
        plain->reject();
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}
