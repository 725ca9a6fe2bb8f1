#pragma once

#include "ITickSource.h"

// A tick count the test sets by hand.
class FakeTickSource : public ITickSource {
public:
    std::uint32_t GetTickCount() override { return m_now; }
    std::uint32_t m_now = 1000000;
};
