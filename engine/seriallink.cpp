#include "seriallink.h"
