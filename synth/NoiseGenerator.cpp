#include "NoiseGenerator.h"

NoiseGenerator g_noise;
