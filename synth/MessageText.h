#pragma once

#include <cstddef>

// Every status line, message-box text and frequency-box text is formatted
// into this buffer and shown from it. The longest text is 186 bytes.
inline constexpr std::size_t kMessageTextSize = 256;

extern char g_messageText[kMessageTextSize];
