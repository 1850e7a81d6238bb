#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>

// Answers every modal message box that opens while it exists, with the answers given in order
// (the last one repeats), and records each box's title and text. Nothing in a test may wait on a
// box that nobody closes.
class ModalAnswerer : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };

    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        mAnswers.push_back(answer);
        connect(&mTimer, &QTimer::timeout, this, &ModalAnswerer::answer);
        mTimer.start(5);
    }

    void setAnswers(std::initializer_list<QMessageBox::StandardButton> answers)
    {
        mAnswers.assign(answers.begin(), answers.end());
    }

    const QList<Box> &boxes() const { return mBoxes; }
    QStringList titles() const
    {
        QStringList result;
        for (const Box &box : mBoxes)
            result << box.title;
        return result;
    }
    void clear() { mBoxes.clear(); }

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr || box == mLast)
            return;
        mLast = box;
        mBoxes.append({box->windowTitle(), box->text(), box->icon()});
        const QMessageBox::StandardButton wanted = mAnswers.front();
        if (mAnswers.size() > 1)
            mAnswers.pop_front();
        QAbstractButton *button = box->button(wanted);
        if (button == nullptr) {
            qWarning("message box '%s' has no such button", qPrintable(box->windowTitle()));
            box->reject();
            return;
        }
        button->click();
    }

    QTimer mTimer;
    QPointer<QMessageBox> mLast;
    std::deque<QMessageBox::StandardButton> mAnswers;
    QList<Box> mBoxes;
};
