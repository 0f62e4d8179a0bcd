// What a host sets up for the library on its thread.
#pragma once

#include <functional>

namespace vok {

// The library gives the host's message loop a turn while long operations run
// (after each Progress event). A host with a loop sets the hook that processes
// pending messages; without one the turn does nothing.
void SetMessagePump(std::function<void()> pump);

}  // namespace vok
