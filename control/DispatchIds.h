#pragma once
// Dispatch ids of the player control's late-bound members, named once for the
// control that answers them and the wrapper that calls them.

#include "control/Dispatch.h"

namespace didira::dispid {

inline constexpr DispId Bandwidth = 1037;        // get
inline constexpr DispId PlayOnOpen = 1017;       // put
inline constexpr DispId OpenState = 1061;        // get
inline constexpr DispId PlayState = 1068;        // get
inline constexpr DispId IsError = 1065;          // get
inline constexpr DispId ErrorDescription = 1066; // get
inline constexpr DispId ErrorCode = 1067;        // get
inline constexpr DispId Volume = 19;             // get and put
inline constexpr DispId Balance = 20;            // get and put
inline constexpr DispId Stop = 2003;             // method
inline constexpr DispId Cancel = 2006;           // method
inline constexpr DispId Open = 2010;             // method, one string

} // namespace didira::dispid
