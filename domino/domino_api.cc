// The process's Domino API, and the stand-in used while no runtime library is
// installed: every call fails with ERR_NO_RUNTIME.
#include "domino/domino_api.h"

#include <atomic>

#include "domino/no_runtime_api.h"

namespace {

NoRuntimeApi& NoRuntime() {
  static NoRuntimeApi api;
  return api;
}

std::atomic<DominoApi*> installed{nullptr};

}  // namespace

DominoApi& Domino() {
  DominoApi* api = installed.load();
  return api != nullptr ? *api : NoRuntime();
}

void SetDominoApi(DominoApi* api) { installed.store(api); }
