#pragma once
// The framework's 32-bit truth values, shared by every layer.

using BOOL = int;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
