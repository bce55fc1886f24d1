#pragma once

#include "options.h"

#include <string>

// Writes the four placeholder support files and a pseudo-random code file into
// options.samplesDir. Returns false and sets error when a file cannot be written.
bool WriteSamples(const Options &options, std::string &error);
