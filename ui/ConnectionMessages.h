#pragma once

#include <QString>

// How the window reports a connection status code: the box (if any), the status line, and
// whether the device counts as connected afterwards.
struct ConnectionReaction
{
    bool known = false; // codes outside 0..6 change nothing
    QString boxTitle;   // empty: no box
    QString boxText;
    QString statusText; // empty: status line unchanged
    bool connected = false;
};

ConnectionReaction connectionReaction(int code);

// The maker's support line, shown in the texts that ask the user to call.
extern const char *const kSupportNumber;
