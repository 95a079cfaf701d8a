#include "audio/wav_loader.h"
