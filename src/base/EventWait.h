#pragma once

namespace tarvo {

// Waits the given device time (scaled by TimeScale) while the event loop keeps running, so timers and
// arriving data are handled. With userInput false the operator's clicks and keys wait until afterwards,
// which is how the program's fixed pauses behave.
void waitMs(int deviceMs, bool userInput = true);

} // namespace tarvo
