#include "tds/rpc.h"

#include "tds/params.h"
#include "tds/tokens.h"

namespace sampleserver::tds {

namespace {

constexpr int32_t kMsgUnsupported = 16001;  // this server's number for a request it does not serve

void Refuse(ResultSink& sink, const std::string& text) {
  ServerMessage m;
  m.number = kMsgUnsupported;
  m.severity = 16;
  m.text = text;
  sink.Message(m);
  sink.Done(kDoneError, 0, false);
}

}  // namespace

void WriteDynamicAck(ByteWriter& w, const std::string& id) {
  w.U8(kTokDynamic);
  size_t at = w.LengthU16();
  w.U8(kDynAck);
  w.U8(0);  // status
  w.BVarChar(id);
  w.PatchU16(at);
}

void HandleRpc(Session& session, const RpcReq& request, ResultSink& sink) {
  session.CallProcedure(request.name, request.params, sink);
}

void HandleDynamic(Session& session, const DynamicReq& request, ResultSink& sink,
                   TokenOutput& out) {
  switch (request.type) {
    case kDynPrepare: {
      PreparedInfo info;
      if (!session.Prepare(request.id, request.statement, &info, sink)) {
        // No acknowledgement: the client reports the message and the statement stays unknown here.
        sink.Done(kDoneError, 0, false);
        return;
      }
      // The descriptions ride on the acknowledgement: FreeTDS answers ct_dynamic's
      // CS_DESCRIBE_INPUT and CS_DESCRIBE_OUTPUT from them without asking again.
      ByteWriter reply;
      try {
        WriteDynamicAck(reply, request.id);
        if (!info.params.empty()) WriteParamFormat(reply, info.params, false);
        if (!info.columns.empty()) WriteRowFormat(reply, info.columns);
      } catch (const TokenTooLong& e) {
        // A statement the client was never told about must not stay prepared here.
        session.Deallocate(request.id, sink);
        sink.Message(TokenTooLongMessage("parameter description of the prepared statement", e));
        sink.Done(kDoneError, 0, false);
        return;
      }
      out.Begin().Raw(reply.Buffer().data(), reply.Size());
      out.End();
      sink.Done(kDoneFinal, 0, false);
      return;
    }
    case kDynExecute: session.ExecutePrepared(request.id, request.params, sink); return;
    case kDynDeallocate:
      if (!session.Deallocate(request.id, sink)) {
        sink.Done(kDoneError, 0, false);
        return;
      }
      WriteDynamicAck(out.Begin(), request.id);
      out.End();
      sink.Done(kDoneFinal, 0, false);
      return;
    case kDynExecImmediate:
      // Prepared under its id for this one run only.
      if (!session.Prepare(request.id, request.statement, nullptr, sink)) {
        sink.Done(kDoneError, 0, false);
        return;
      }
      session.ExecutePrepared(request.id, request.params, sink);
      session.Deallocate(request.id, sink);
      return;
    default:
      Refuse(sink, "Dynamic statement operation " + std::to_string(request.type) +
                       " is not supported by this server.");
  }
}

}  // namespace sampleserver::tds
