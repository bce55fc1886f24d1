#pragma once

#include <QtGlobal>

// Platform file: the only place of the engine with operating-system calls.

// Asks the serial driver behind the open file handle for low-latency mode, so that each
// received byte is handed over at once instead of after the driver's batching delay.
// Returns false where the driver refuses (a pseudo-terminal) or the platform has no such
// mode; the caller carries on either way.
bool RequestLowLatency(qintptr handle);

// Claims the device behind the open file handle for this open alone, so that a second
// program (or a second link in this one) cannot drive the same board. Unlike the
// toolkit's exclusive mode this also holds against root, and unlike its lock file it does
// not depend on which lock folder each program can write. Returns false when another
// open of the device holds the claim; true where the platform has no such claim
// (Windows opens a serial port for one owner only anyway). Closing the handle ends it.
bool ClaimDevice(qintptr handle);
