#pragma once

#include "options.h"

// Programs every board of the command line at once: builds the image, opens every port,
// runs each board's download in a thread of its own, and writes the summary, the verdict
// and the record. Returns the exit status.
int Program(const Arguments &a);
