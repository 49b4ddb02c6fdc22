// The simulated runtime's transaction log as the tests look at it.
#pragma once

#include <memory>
#include <string>

#include "dominosim/txn_log.h"

namespace simtest {

// The log's control as it is now (zeros when it cannot be read).
inline dominosim::LogControl ReadLog(const std::string& logDirHost) {
  dominosim::LogOptions options;
  options.dir = logDirHost;
  options.create = false;
  std::unique_ptr<dominosim::TxnLog> log;
  dominosim::LogControl control;
  control.nextLsn = 0;
  control.currentExtent = 0;
  if (dominosim::TxnLog::Open(options, log) == 0) log->ReadControl(control);
  return control;
}

}  // namespace simtest
