// The entry of libvmproperties.so: builds and runs the printer's property
// sheet. Returns 1 when the printer is not installed (after the message that
// says so) or no window can open, else 0 once the sheet has closed.
//
// A caller without a toolkit application gets one made for the sheet; the
// caller keeps the one-sheet-at-a-time rule (the program's mutex).
#pragma once

extern "C" __attribute__((visibility("default"))) int ShowProperties(int noGeneral, int noPaper);
