#include "SoundServer.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ProcessRunner.h"

SoundServer::SoundServer()
{
    char directory[] = "/tmp/wavegen-sound-XXXXXX";
    m_directory = mkdtemp(directory);
    const char* previous = std::getenv("PULSE_SERVER");
    m_previous = previous != nullptr ? previous : "";
    setenv("PULSE_SERVER", ("unix:" + m_directory + "/native").c_str(), 1);
}

SoundServer::~SoundServer()
{
    Stop();
    setenv("PULSE_SERVER", m_previous.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

bool SoundServer::Start()
{
    return RunProcess({WAVEGEN_SOUND_SERVER, "start", m_directory}).status == 0;
}

void SoundServer::Stop()
{
    RunProcess({WAVEGEN_SOUND_SERVER, "stop", m_directory});
}

void SoundServer::Signal(int signal)
{
    std::ifstream pidFile(m_directory + "/pulse.pid");
    pid_t pid = 0;
    pidFile >> pid;
    if (pid > 0) {
        kill(pid, signal);
    }
}
