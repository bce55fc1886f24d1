#pragma once

#include <QtGlobal>

// Platform file: the only place of the engine with operating-system calls.
//
// Asks the serial driver behind the open file handle for low-latency mode, so that each
// received byte is handed over at once instead of after the driver's batching delay.
// Returns false where the driver refuses (a pseudo-terminal) or the platform has no such
// mode; the caller carries on either way.
bool RequestLowLatency(qintptr handle);
