// RPC and dynamic-statement requests: what the protocol layer does with a DBRPC or DYNAMIC token
// and its parameters.
#pragma once

#include "engine/engine.h"
#include "tds/requests.h"
#include "tds/wire.h"

namespace sampleserver::tds {

// Where the handlers write tokens of their own, in order with what the engine sends.
class TokenOutput {
 public:
  virtual ~TokenOutput() = default;
  virtual ByteWriter& Begin() = 0;
  virtual void End() = 0;
};

enum DynamicType : uint8_t {
  kDynPrepare = 0x01,
  kDynExecute = 0x02,
  kDynDeallocate = 0x04,
  kDynExecImmediate = 0x08,
  kDynAck = 0x20,
};

// Runs the procedure; the reply ends in its return status, output parameters and DONEPROC.
void HandleRpc(Session& session, const RpcReq& request, ResultSink& sink);
// Prepare, execute, deallocate, or execute at once without keeping the statement. Each ends
// with its own Done.
void HandleDynamic(Session& session, const DynamicReq& request, ResultSink& sink, TokenOutput& out);

// DYNAMIC acknowledging a prepare or deallocate of `id`.
void WriteDynamicAck(ByteWriter& w, const std::string& id);

}  // namespace sampleserver::tds
