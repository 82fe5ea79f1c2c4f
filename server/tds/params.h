// Parameters on the wire: PARAMFMT (0xEC) or PARAMFMT2 (0x20) with the PARAMS (0xD7) that follows,
// as clients send them beside RPC, dynamic and language requests, and as the server returns a
// procedure's output parameters.
#pragma once

#include "engine/engine.h"
#include "tds/wire.h"

#include <cstdint>
#include <vector>

namespace sampleserver::tds {

enum ParamToken : uint8_t { kTokParamFmtOut = 0xEC, kTokParamFmt2 = 0x20, kTokParamsOut = 0xD7 };

// Reads a parameter description and its values if the next token is PARAMFMT or PARAMFMT2;
// leaves the reader untouched otherwise. Throws ProtocolError on a malformed or unsupported
// type, or when the values do not follow.
std::vector<ParamValue> ReadParams(ByteReader& r);

// PARAMFMT describing `params`; the status byte marks each as an output when `output`.
void WriteParamFormat(ByteWriter& w, const std::vector<ColumnInfo>& params, bool output);
// PARAMFMT and PARAMS: a procedure's output parameters.
void WriteOutputParams(ByteWriter& w, const std::vector<ColumnInfo>& params,
                       const std::vector<Value>& values);

}  // namespace sampleserver::tds
