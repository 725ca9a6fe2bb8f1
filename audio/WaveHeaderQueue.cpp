#include "WaveHeaderQueue.h"

#include "IWaveOut.h"

int WaveHeaderQueue::Prepare(WaveHeader* header)
{
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int WaveHeaderQueue::Queue(WaveHeader* header)
{
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    Reset();
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    m_queued = header;
    return MMSYSERR_NOERROR;
}

void WaveHeaderQueue::Reset()
{
    if (m_queued != nullptr) {
        m_queued->dwFlags = (m_queued->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        m_queued = nullptr;
    }
}

int WaveHeaderQueue::Unprepare(WaveHeader* header)
{
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
