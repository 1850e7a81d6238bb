#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Sends the process's standard output to a temporary file until text() is called, so a test
// can compare the diagnostic lines byte for byte.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        mFile.open();
        std::fflush(stdout);
        mSaved = dup(STDOUT_FILENO);
        dup2(mFile.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }

    QByteArray text()
    {
        restore();
        mFile.seek(0);
        return mFile.readAll();
    }

private:
    void restore()
    {
        if (mSaved < 0)
            return;
        std::fflush(stdout);
        dup2(mSaved, STDOUT_FILENO);
        ::close(mSaved);
        mSaved = -1;
    }

    QTemporaryFile mFile;
    int mSaved = -1;
};
