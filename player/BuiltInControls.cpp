#include "player/ControlHost.h"

namespace didira {

// Registers the control classes that ship with Didira.
void RegisterBuiltInControls() {}

} // namespace didira
