// The adapter's own trace of the Client-Library calls made on the default context while a
// CallTrace lives (ct_debug writing to a file of its own), so a test can see what was sent.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

namespace oc {
struct Context;
}

namespace norvtest {

class CallTrace {
 public:
  CallTrace();
  ~CallTrace();
  CallTrace(const CallTrace&) = delete;
  CallTrace& operator=(const CallTrace&) = delete;

  // Lines of the routine `name` ("ct_cursor(...) -> rc"); every line when `name` is empty.
  QStringList Calls(const QString& name) const;
  // The rows of each cursor fetch exchange, in order ("ct_fetch_batch(<command>, <rows>)").
  QStringList FetchBatchRows() const;

 private:
  QTemporaryDir dir_;
  QByteArray path_;
  oc::Context* ctx_ = nullptr;
};

}  // namespace norvtest
