#include "voktools/events.h"

#include "platform/windowing.h"

namespace vok {

void PumpHostMessages() { PumpMessages(); }

}  // namespace vok
