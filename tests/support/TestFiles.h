#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

// Writes a file for a test into its temporary folder and returns the path in UTF-8.
inline QByteArray writeTestFile(const QTemporaryDir &dir, const QString &name,
                                const QByteArray &contents)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(path));
    return path.toUtf8();
}
