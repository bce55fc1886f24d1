#include "downloadimage.h"
