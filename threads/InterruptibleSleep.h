#pragma once

class QThread;

// Sleeps for the given time in short slices so that a stop request (interruption) is noticed
// soon. Returns false when the thread was asked to stop.
bool sleepUnlessInterrupted(const QThread *thread, int milliseconds);
