#include "MessageText.h"

char g_messageText[kMessageTextSize];
