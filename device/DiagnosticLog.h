#pragma once

#include <QString>

// The diagnostic log: one UTF-8 line per call on standard output, flushed. Messages that end
// in "\n\r" keep those characters before the added line end.
void logMessage(const QString &message);

// Writes the text exactly as given (no line end added) and flushes; used where a message
// already carries its own line ends.
void printToStdout(const QString &text);
