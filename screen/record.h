// record.h - recordings: what the Screen showed, as an animated GIF (SCRREC,
// RecordStart and RecordStop), and the pictures saved when a signal ends the
// program.
//
// Which pictures: behind a Presenter, each one it took (TakeChanges) at most
// every 20 ms, timed on the clock; on the windowless back-end, the visible
// page whenever the program takes a key and the page changed since, each
// shown for SCRRECDELAY seconds (0.25 when unset), so piped keys give one
// picture per picture they made. A read that finds no key takes a changed
// page at most once per SCRRECDELAY: an animation plays at its own pace, and
// a program that polls flat out (a picture a pass) does not fill the file.
// Both take one more as the recording stops. The GIF is written by a thread of its own (in a
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
// The program reads the keyboard, under the screen lock (`key`: a key is
// there to be taken): on the windowless back-end, the page as it is now when
// it changed.
void RecordOnKeyboardRead(Screen& s, bool key);
// At a keyboard read, before the screen lock: while a signal is ending the
// program, its thread stops here for good, with its picture whole.
void StopHereIfEnding();
// The Screen is closing (its Presenter stopped): the last picture, then the
// file is finished. Its error number when writing failed, else 0.
int32_t FinishRecording(const Screen& s);

}  // namespace scr
