// End-to-end runs of the built wavegen-render.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "ProcessRunner.h"

namespace {

const std::string kRender = WAVEGEN_RENDER_PATH;

ProcessResult Render(std::vector<std::string> arguments, std::vector<std::string> environment = {})
{
    arguments.insert(arguments.begin(), kRender);
    return RunProcess(arguments, environment);
}

std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at)
{
    std::uint16_t value = 0;
    std::memcpy(&value, bytes.data() + at, 2);
    return value;
}

std::int16_t SampleAt(const std::string& bytes, std::size_t offset, std::size_t index)
{
    return static_cast<std::int16_t>(Le16(bytes, offset + 2 * index));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

class RenderTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        char directory[] = "/tmp/wavegen-render-test-XXXXXX";
        ASSERT_NE(mkdtemp(directory), nullptr);
        m_directory = directory;
    }
    void TearDown() override { std::system(("rm -rf " + m_directory).c_str()); }
    std::string Path(const char* name) const { return m_directory + "/" + name; }

    std::string m_directory;
};

TEST_F(RenderTool, wavOutput_hasThePcmHeaderAndTheLoopBuffer)
{
    const ProcessResult run = Render({"--output", Path("sine.wav")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "This is a sine wave, 500.000 Hz\n");
    EXPECT_EQ(run.out, "");
    const std::string wav = ReadFile(Path("sine.wav"));
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    EXPECT_EQ(wav.substr(12, 4), "fmt ");
    EXPECT_EQ(Le16(wav, 20), 1);       // PCM
    EXPECT_EQ(Le16(wav, 22), 1);       // mono
    EXPECT_EQ(Le32(wav, 24), 48000u);  // samples per second
    EXPECT_EQ(Le32(wav, 28), 96000u);  // bytes per second
    EXPECT_EQ(Le16(wav, 32), 2);       // block align
    EXPECT_EQ(Le16(wav, 34), 16);      // bits per sample
    const std::size_t data = wav.find("data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_EQ(Le32(wav, data + 4), 960000u);
    EXPECT_EQ(wav.size(), data + 8 + 960000);
    EXPECT_EQ(SampleAt(wav, data + 8, 1), 2143);
    EXPECT_EQ(SampleAt(wav, data + 8, 24), 32767);
}

TEST_F(RenderTool, rawRepeatedNoise_startsWithTheFirstDrawsAndRepeatsExactly)
{
    const ProcessResult run =
        Render({"--waveform", "noise", "--raw", "--repeat", "3", "--output", Path("noise.raw")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string raw = ReadFile(Path("noise.raw"));
    ASSERT_EQ(raw.size(), 3u * 960000u);
    EXPECT_EQ(SampleAt(raw, 0, 0), 41);
    EXPECT_EQ(SampleAt(raw, 0, 1), 18467);
    EXPECT_EQ(SampleAt(raw, 0, 2), 6334);
    EXPECT_EQ(SampleAt(raw, 0, 3), 26500);
    EXPECT_EQ(raw.substr(0, 960000), raw.substr(960000, 960000));
    EXPECT_EQ(raw.substr(0, 960000), raw.substr(1920000, 960000));
}

TEST_F(RenderTool, correctionsAndStdout_printEveryMessageThenTheStatus)
{
    const ProcessResult run =
        Render({"--waveform", "6", "--frequency", "20000", "--raw", "--output", "-"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "Frequency is too high; try less than 16000\n"
              "The highest frequency is too high.\n"
              "This is a sweeping sine wave, its frequency is 3200.000-16000.000 Hz\n"
              "The repeat cycle is 2.063 seconds\n");
    EXPECT_EQ(run.out.size(), 2u * 99000u);
}

TEST_F(RenderTool, endedEarly_exits1AndLeavesAnExistingFileAlone)
{
    {
        std::ofstream(Path("keep.wav")) << "precious";
    }
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } cases[] = {
        {{"--waveform", "pulse"}, "decrease the frequency below 480.000Hz\n"},
        {{"--frequency", "-5"}, "Illegal frequency\n"},
        {{"--frequency", ""}, "Illegal frequency\n"},
        {{"--frequency", "nan"}, "Illegal frequency\n"},
        {{"--waveform", "-1", "--frequency", "5"},
         "That was too low a frequency for ordinary sound cards.\n"
         "waveform not yet defined, tell Zorv to add what you want.\n"},
        {{"--waveform", "7"}, "waveform not yet defined, tell Zorv to add what you want.\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--output", Path("keep.wav")});
        const ProcessResult run = Render(arguments);
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(ReadFile(Path("keep.wav")), "precious");
    }
}

TEST_F(RenderTool, usageErrors_exit2WithAReasonAndTheUsage)
{
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--repeat", "0"},
                                                      {"--waveform", "square-ish"},
                                                      {"--bogus"},
                                                      {"--play", "-1"},
                                                      {"--frequency"}}) {
        const ProcessResult run = Render(arguments);
        EXPECT_EQ(run.status, 2) << arguments[0];
        EXPECT_EQ(run.err.rfind("wavegen-render: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nusage: wavegen-render [--waveform N]"), std::string::npos);
    }
    const ProcessResult help = Render({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--frequency"), std::string::npos);
}

TEST_F(RenderTool, aGermanLocale_changesNothing)
{
    const std::string locales = WAVEGEN_TEST_LOCPATH;
    if (!std::ifstream(locales + "/de_DE.UTF-8/LC_NUMERIC")) {
        GTEST_SKIP() << "run through ctest, which makes the German locale";
    }
    const ProcessResult run =
        Render({"--frequency", "12.5", "--output", Path("de.wav")},
               {"LOCPATH=" + locales, "LANG=de_DE.UTF-8", "LC_ALL=de_DE.UTF-8"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "This is a sine wave, 12.500 Hz\n");
}

TEST_F(RenderTool, playWithoutADevice_printsBothOpenMessagesAndExits1)
{
    {
        std::ofstream(Path("asound.conf")) << "pcm.!default { type hw card \"NoSuchCard\" }\n";
    }
    const ProcessResult run =
        Render({"--play", "0.2"}, {"ALSA_CONFIG_PATH=" + Path("asound.conf")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "fail to open waveOutDevice\n"
              "Make sure that you use the same sampling rate as the recording device\n"
              "cannot open wave out device\n");
}

TEST_F(RenderTool, playOnTheSoundServer_playsThenStops)
{
    if (std::getenv("PULSE_SERVER") == nullptr) {
        GTEST_SKIP() << "needs the private sound server (run through ctest)";
    }
    const ProcessResult run = Render({"--waveform", "triangle", "--play", "0.3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "This is a triangle wave, 500.000 Hz\n");
}

}  // namespace
