// The per-user status file: <user directory>/status.
//
// Free text in which only the upper-case ASCII letters carry meaning; every
// other byte is ignored. A "C" anywhere marks the user as closed, an "N"
// anywhere as not official. A missing or unreadable file means open and
// official. The writer puts "Closed" there for a closed user and nothing
// otherwise, so a rewritten file always reads back as official.
#pragma once

// Status flags.
constexpr int kStatusClosed = 1;
constexpr int kStatusOfficial = 2;

// The user's status flags; kStatusOfficial alone when the file cannot be
// opened.
int readUserStatus(const char *user);
// Rewrites the user's status file from flags (only kStatusClosed is
// written). Returns flags, or ~flags when the file could not be opened or
// written in full.
int writeUserStatus(const char *user, int flags);
