// What a host sets up for the library on its thread.
#pragma once

#include <functional>
#include <string>

#include "voktools/export.h"

namespace vok {
VOK_PUBLIC_BEGIN

// The library gives the host's message loop a turn while long operations run
// (after each Progress event). A host with a loop sets the hook that processes
// pending messages; without one the turn does nothing.
void SetMessagePump(std::function<void()> pump);

// Where the library says what a result cannot: a read-only file that was
// replaced all the same, an owner or group that could not be kept. A host
// that shows warnings sets the sink; without one they are dropped.
void SetWarningSink(std::function<void(const std::string&)> sink);

// Where a message box goes when there is no screen to show it on: the hook
// gets its text and its title. Without one, the message goes to the warning
// sink.
void SetMessageBoxHook(std::function<void(const std::string& text, const std::string& title)> hook);

VOK_PUBLIC_END

}  // namespace vok
