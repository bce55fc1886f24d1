#pragma once

#include "options.h"

// --check: builds the image as a download would send it and prints it block by block,
// with its size and its time on the line; sends nothing, opens no port. Returns the exit
// status.
int Check(const Arguments &a);
