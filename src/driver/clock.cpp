#include "driver/clock.h"
