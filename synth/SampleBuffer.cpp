#include "SampleBuffer.h"

std::int16_t g_sampleBuffer[kSampleBufferCapacity];
