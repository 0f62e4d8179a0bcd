// Constructing the public classes on a given environment, and their test
// hooks. The public headers keep both private: a host constructs a class with
// its default constructor (on the current environment) or with CreateObject.
//
//   WithEnv<clsRTFUtil> rtf(env);
//   auto asp = std::make_shared<WithEnv<clsASP2HTML>>(env);
#pragma once

#include <cstdint>

#include "platform/env.h"
#include "voktools/export.h"

namespace vok {

template <class T>
struct VOK_LOCAL WithEnv : T {
  explicit WithEnv(Env& env) : T(env) {}

  // The hooks of the classes that have them (each compiles only for those).
  static void SetChunkSize(T& object, int32_t chunk) { object.SetChunkSizeForTesting(chunk); }
  static void ForceChunkSize(T& object, int32_t chunk) { object.ForceChunkSizeForTesting(chunk); }
};

// The size of the pieces a converter reads its input in, so that tests can
// make every construct straddle two reads.
template <class T>
void SetChunkSizeForTesting(T& object, int32_t chunk) {
  WithEnv<T>::SetChunkSize(object, chunk);
}
template <class T>
void ForceChunkSizeForTesting(T& object, int32_t chunk) {
  WithEnv<T>::ForceChunkSize(object, chunk);
}

}  // namespace vok
