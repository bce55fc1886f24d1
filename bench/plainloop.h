#pragma once

#include <string>

// The floor of a lock-step exchange: write one byte, wait for its echo, read it, with
// nothing else in between (no event loop, no toolkit). Returns the seconds that count
// bytes took, or a negative value when the line failed or an echo differed.
double PlainLockStepLoop(const std::string &device, long count);
