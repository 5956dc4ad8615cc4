
namespace scr {
// testing.h - the one hook the layer offers its own tests.
//
// Internal: not installed, not for programs.
#pragma once

// Returns the layer to its state at program start: the Screen closed, every
// file closed, both key rings and the Alt-numpad number empty, the console's
// colours, size and text view at their defaults, the error number 0.
void ResetLayerForTests();

}  // namespace scr
