// record.h - recordings: what the Screen showed, as an animated GIF (SCRREC,
// RecordStart and RecordStop), and the pictures saved when a signal ends the
// program.
//
// Which pictures: behind a Presenter, each one it took (TakeChanges) at most
// every 20 ms, timed on the clock; on the windowless back-end, the visible
// page whenever the program reads the keyboard and the page changed since,
// each shown for SCRRECDELAY seconds (0.25 when unset). Both take one more
// as the recording stops. The GIF is written by a thread of its own (in a
// browser page, at once), from copies of the page.
#pragma once

#include <cstdint>
#include <string>

namespace scr {

struct Screen;

// SCRREC, when set: starts recording a Screen that has just opened. Also
// arranges for SCRSHOT and the recording to be saved when a signal ends the
// program. On the program's thread.
void StartRecordingIfAsked(Screen& s);
// A Presenter pass took the visible page's changes (`changed`: any). Under
// the platform lock, on the Presenter's thread.
void RecordShownPicture(const Screen& s, bool changed);
// The program reads the keyboard, under the screen lock: on the windowless
// back-end, the page as it is now when it changed.
void RecordOnKeyboardRead(Screen& s);
// The Screen is closing (its Presenter stopped): the last picture, then the
// file is finished. Its error number when writing failed, else 0.
int32_t FinishRecording(const Screen& s);

}  // namespace scr
