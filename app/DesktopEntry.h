#pragma once

namespace didira {

// The name of the desktop entry (without ".desktop") and of the icon that the
// program installs; the desktop finds the program's window, media controls
// and notifications by it.
inline constexpr char kDesktopEntry[] = "org.didira.Didira";

} // namespace didira
