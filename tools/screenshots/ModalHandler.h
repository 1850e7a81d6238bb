#pragma once

#include <QDir>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

// Answers the modal dialogs that the window opens (message boxes and text prompts) the way a
// user would, and saves a picture of those it is asked to. A dialog that nobody expected is
// closed with its escape button and reported, so no run can hang on one.
class ModalHandler : public QObject
{
public:
    explicit ModalHandler(const QDir &output);

    // The next dialog with this title (an empty title: whatever comes next): save it as file
    // (unless empty), then press button, or, for a text prompt, enter text and accept.
    // Expectations are matched in the order given.
    void expect(const QString &title, const QString &file,
                QMessageBox::StandardButton button = QMessageBox::Ok,
                const QString &text = QString());
    // Waits until every expected dialog has been answered; false after timeoutMs.
    bool waitForAll(int timeoutMs);
    // Dialogs still expected, by title; clears them.
    QStringList takeMissing();

    QStringList unexpected() const { return mUnexpected; }
    QStringList saved() const { return mSaved; }

    // Saves a picture under the output folder and records it.
    bool save(const QImage &image, const QString &file);

private:
    struct Expectation
    {
        QString title;
        QString file;
        QMessageBox::StandardButton button;
        QString text;
    };

    void poll();
    void answer(QWidget *dialog, const Expectation &expectation);

    QDir mOutput;
    QTimer mTimer;
    QPointer<QWidget> mLast;
    QList<Expectation> mExpected;
    QStringList mUnexpected;
    QStringList mSaved;
};

// Processes events until condition holds; false after timeoutMs.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
