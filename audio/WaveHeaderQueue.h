#pragma once

#include "WaveHeader.h"

// The state bits a wave output keeps in a caller's header, and which header
// an open device holds. Every wave output (the ALSA one, the silent one and
// the tests' recording one) goes through this one owner, so they cannot
// disagree on what prepare, write, reset and unprepare do to the flags.
class WaveHeaderQueue {
public:
    // Ready for a write: prepared, no longer done.
    int Prepare(WaveHeader* header);
    // Takes a prepared header: queued, not done. WAVERR_UNPREPARED otherwise.
    int Queue(WaveHeader* header);
    // Gives the queued header back, marked done; nothing is queued after it.
    void Reset();
    // Undoes the preparation. WAVERR_STILLPLAYING while the header is queued.
    int Unprepare(WaveHeader* header);

private:
    WaveHeader* m_queued = nullptr;
};
