#pragma once
// The control classes that ship with Didira, registered with the control host
// at start-up.

namespace didira {

// Registers the built-in control classes. Only the first call registers, so a
// class a test registered in their place after it stays.
void RegisterBuiltInControls();

} // namespace didira
