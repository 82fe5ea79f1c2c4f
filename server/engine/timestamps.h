// Timestamp columns: every insert and update gives the row a new 8-byte value, so a client that
// read a row can tell, with tsequal(), whether someone changed it since.
#pragma once

#include "types.h"

struct sqlite3;

namespace sampleserver {

// The next value, unique and increasing for the life of the process, big-endian as Sybase
// shows it. Seeded from the clock in microseconds, so values stay above those written by
// earlier runs of the server.
Bytes NextTimestamp();
// The last value handed out (@@dbts).
Bytes CurrentTimestamp();

// syb_next_ts(): the next value; tsequal(column, value): 1 when equal, else Msg 532.
void RegisterTimestampFunctions(sqlite3* db);

}  // namespace sampleserver
