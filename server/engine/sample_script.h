// The script that creates the sample database pubs2 on first start (server/data/pubs2.sql,
// compiled in).
#pragma once

namespace sampleserver {
extern const char* const kPubs2Script;
}
