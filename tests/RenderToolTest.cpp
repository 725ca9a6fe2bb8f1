// End-to-end runs of the built wavegen-render.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "ChildProcess.h"
#include "MonitorRecorder.h"
#include "ProcessRunner.h"
#include "SoundServer.h"
#include "WaitFor.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

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
    void TearDown() override { fs::remove_all(m_directory); }
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

// --centred-noise: the same draws 16384 lower, for both noises, and then
// scaled about zero by the level; other waveforms are left alone.
TEST_F(RenderTool, centredNoise_isTheWindowsSequenceShiftedThenScaled)
{
    const struct {
        const char* waveform;
        const char* level;
        int first;   // the window's 41
        int second;  // the plain noise's 18467, or the held noise's 41 again
    } cases[] = {{"noise", "1", 41 - 16384, 18467 - 16384},
                 {"held-noise", "1", 41 - 16384, 41 - 16384},
                 {"noise", "0.5", -8172, 1042}};  // (-16343 / 2, 2083 / 2, halves away)
    for (const auto& c : cases) {
        const ProcessResult run = Render({"-w", c.waveform, "--centred-noise", "--level", c.level,
                                          "--raw", "-o", Path("centred.raw")});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string raw = ReadFile(Path("centred.raw"));
        EXPECT_EQ(SampleAt(raw, 0, 0), c.first) << c.waveform << " " << c.level;
        EXPECT_EQ(SampleAt(raw, 0, 1), c.second) << c.waveform << " " << c.level;
    }
    const ProcessResult sine = Render({"--centred-noise", "--raw", "-o", Path("sine.raw")});
    ASSERT_EQ(sine.status, 0) << sine.err;
    EXPECT_EQ(SampleAt(ReadFile(Path("sine.raw")), 0, 24), 32767);
}

// A level scales every sample, rounded halves away from zero; 1 leaves
// them exactly as they are.
TEST_F(RenderTool, level_scalesTheSamplesAndOneLeavesThem)
{
    const struct {
        const char* level;
        int high;
    } cases[] = {{"1", 32767}, {"0.5", 16384}, {"-6dB", 16422}, {"-6.0206DBFS", 16383}};
    for (const auto& c : cases) {
        const ProcessResult run = Render(
            {"-w", "square", "-f", "100", "--level", c.level, "--raw", "-o", Path("level.raw")});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string raw = ReadFile(Path("level.raw"));
        EXPECT_EQ(SampleAt(raw, 0, 0), -c.high) << c.level;
        EXPECT_EQ(SampleAt(raw, 0, 240), c.high) << c.level;
    }
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
        {{"--frequency", "inf"}, "Illegal frequency\n"},
        {{"-f", "0x10"}, "Illegal frequency\n"},
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
    const struct {
        std::vector<std::string> arguments;
        const char* names;  // what the reason must name
    } cases[] = {
        {{"--repeat", "0", "-o", "-"}, "-n/--repeat"},
        {{"--waveform", "square-ish"}, "held-noise, sweep"},
        {{"-w", "7"}, "position 0 to 6"},
        {{"-w", "-1"}, "position 0 to 6"},
        {{"--bogus"}, "--bogus"},
        {{"--play", "-1"}, "unknown option -1"},
        {{"--play=inf"}, "-p/--play"},
        {{"--frequency"}, "-f/--frequency needs a value"},
        {{"-n", "5000", "-o", "-"}, "at most 4473 passes"},
        {{"-o", ""}, "the file name is empty"},
        {{"--raw"}, "give -o FILE too"},
        {{"-n", "2"}, "give -o FILE too"},
        {{"-D", "default"}, "give -p too"},
        {{"-f", "1", "-f", "2"}, "-f/--frequency given twice"},
        {{"--", "-f", "100"}, "unexpected argument: -f"},
        {{"-o", "x.wav", "5", "-d"}, "unexpected argument: 5"},
        {{"--level", "2"}, "--level: LEVEL must be"},
        {{"--level", "3dB"}, "--level: LEVEL must be"},
        {{"--level", "0"}, "--level: LEVEL must be"},
        // The instrument's settings: each names itself and what it needs.
        {{"--symmetry", "101"}, "--symmetry: not a number from 0 to 100: 101"},
        {{"--phase", "1,5"}, "--phase: not a number from -360 to 360: 1,5"},
        {{"--burst", "2.5"}, "--burst: not a whole number of cycles: 2.5"},
        {{"--burst-period", "0.1"}, "--burst-period shapes a burst; give --burst N too"},
        {{"--log-sweep"}, "--log-sweep shapes a sweep; give --sweep START:STOP too"},
        {{"--sweep", "100-200"}, "--sweep: not START:STOP in hertz: 100-200"},
        {{"--triggered"}, "--triggered fires a burst or a sweep"},
        {{"--arb", "p.txt"}, "--arb FILE gives the points of -w arb; give it too"},
        {{"-w", "arb"}, "-w arb plays the points of --arb FILE; give it too"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = Render(c.arguments);
        EXPECT_EQ(run.status, 2) << c.names;
        EXPECT_NE(run.err.find(c.names), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("\nUsage: wavegen-render [-w NAME]"), std::string::npos);
    }
    // An option's value may start with "-" (-o -final.wav is a file).
    const ProcessResult dashed = Render({"-f", "-5", "-o", Path("-final.wav")});
    EXPECT_EQ(dashed.err, "Illegal frequency\n");
    for (const char* information : {"-h", "-V", "-L"}) {
        EXPECT_EQ(RunProcess({"/bin/sh", "-c", kRender + " " + information + " >/dev/full"}).status,
                  3)
            << information;
    }
    const ProcessResult help = Render({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: wavegen-render ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--frequency"), std::string::npos);
}

// An arbitrary waveform's file, as text or as raw codes, is the same
// waveform; a file that is no waveform says where and why.
TEST_F(RenderTool, arbitraryFile_textAndRawCodesGiveTheSameLoop)
{
    {
        std::ofstream text(Path("points.txt"));
        text << "0\n\n1 \r\n0\n-1\n";
        std::ofstream raw(Path("points.raw"), std::ios::binary);
        const std::int16_t codes[] = {0, 32767, 0, -32767};
        raw.write(reinterpret_cast<const char*>(codes), sizeof codes);
    }
    std::string loops[2];
    for (int i = 0; i < 2; ++i) {
        const std::string out = Path(i == 0 ? "text.raw" : "codes.raw");
        const ProcessResult run =
            Render({"-w", "arb", "--arb", Path(i == 0 ? "points.txt" : "points.raw"), "-f", "750",
                    "-o", out, "--raw"});
        ASSERT_EQ(run.status, 0) << run.err;
        loops[i] = ReadFile(out);
    }
    EXPECT_EQ(loops[0], loops[1]);
    ASSERT_EQ(loops[0].size(), 2u * 480000);
    EXPECT_EQ(SampleAt(loops[0], 0, 8), 16383);  // halfway from 0 to 1
    EXPECT_EQ(SampleAt(loops[0], 0, 16), 32767);
    using namespace std::string_literals;
    const struct {
        std::string contents;
        const char* name;
        const char* reason;
    } bad[] = {
        {"0\n2\n", "bad.txt", "bad.txt: line 2: not a number from -1 to 1: 2"},
        {"0.5\n", "one.txt", "one.txt: 1 points; a waveform has 2 to 16384"},
        {"\x00\x80\x00\x00"s, "low.raw", "low.raw: the code -32768 is below -32767"},
        {"abc", "odd.raw", "odd.raw: an odd number of bytes"},
    };
    for (const auto& b : bad) {
        std::ofstream(Path(b.name), std::ios::binary) << b.contents;
        const ProcessResult run = Render({"-w", "arb", "--arb", Path(b.name), "-o", Path("x.raw")});
        EXPECT_EQ(run.status, 1) << b.name;
        EXPECT_NE(run.err.find(b.reason), std::string::npos) << run.err;
    }
}

// --ch2: a two-channel WAV file whose left channel is the mono file's
// samples and whose right channel is the second options' loop, both
// repeated to the length that holds whole loops of each.
TEST_F(RenderTool, secondChannel_isTheMonoLoopBesideTheOther)
{
    ASSERT_EQ(Render({"-f", "1000", "-o", Path("mono.raw"), "--raw"}).status, 0);
    ASSERT_EQ(Render({"-f", "750", "--burst", "2", "--burst-period", "0.004", "-o",
                      Path("burst.raw"), "--raw"})
                  .status,
              0);
    const ProcessResult run = Render(
        {"-f", "1000", "-o", Path("pair.wav"), "--ch2", "-f 750 --burst 2 --burst-period 0.004"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string mono = ReadFile(Path("mono.raw"));
    const std::string burst = ReadFile(Path("burst.raw"));
    const std::string pair = ReadFile(Path("pair.wav"));
    EXPECT_EQ(Le16(pair, 22), 2u);               // channels
    EXPECT_EQ(Le32(pair, 28), 4u * 48000u);      // bytes a second
    EXPECT_EQ(Le16(pair, 32), 4u);               // bytes a frame
    ASSERT_EQ(Le32(pair, 40), 2 * mono.size());  // the 10 s loop holds whole 192-sample bursts
    for (std::size_t frame = 0; frame < mono.size() / 2; frame += 997) {
        EXPECT_EQ(SampleAt(pair, 44, 2 * frame), SampleAt(mono, 0, frame)) << frame;
        EXPECT_EQ(SampleAt(pair, 44, 2 * frame + 1), SampleAt(burst, 0, frame % 192)) << frame;
    }
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

TEST_F(RenderTool, playWithoutADevice_namesThePcmAndWhyThenBothOpenMessagesAndExits1)
{
    {
        std::ofstream(Path("asound.conf")) << "pcm.!default { type hw card \"NoSuchCard\" }\n";
    }
    const std::string messages =
        "fail to open waveOutDevice\n"
        "Make sure that you use the same sampling rate as the recording device\n"
        "cannot open wave out device\n";
    const ProcessResult run =
        Render({"--play", "0.2"}, {"ALSA_CONFIG_PATH=" + Path("asound.conf")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "wavegen-render: cannot open PCM 'default': No such device\n" + messages);
    const ProcessResult named = Render({"-D", "nosuchpcm", "-p", "1"});
    EXPECT_EQ(named.status, 1);
    EXPECT_EQ(
        named.err,
        "wavegen-render: cannot open PCM 'nosuchpcm': No such file or directory\n" + messages);
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

// Every kind of path: a file is replaced whole, anything else is written
// in place, and what arrives is the same bytes each time.
TEST_F(RenderTool, outputPathKinds_fileReplacedWholeEverythingElseWrittenInPlace)
{
    const std::vector<std::string> args{"-w", "Triangle", "-f", "440"};
    auto run = [&](const std::string& path) {
        std::vector<std::string> a = args;
        a.insert(a.end(), {"-o", path});
        return Render(a);
    };
    ASSERT_EQ(run(Path("new.wav")).status, 0);
    const std::string expected = ReadFile(Path("new.wav"));
    ASSERT_EQ(expected.size(), 44u + 960000u);

    std::ofstream(Path("old.wav")) << "old";
    chmod(Path("old.wav").c_str(), 0640);
    EXPECT_EQ(run(Path("old.wav")).status, 0);
    EXPECT_EQ(ReadFile(Path("old.wav")), expected);
    EXPECT_EQ(fs::status(Path("old.wav")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    std::ofstream(Path("target.wav")) << "old";
    fs::create_symlink("target.wav", Path("link.wav"));
    EXPECT_EQ(run(Path("link.wav")).status, 0);
    EXPECT_TRUE(fs::is_symlink(Path("link.wav")));
    EXPECT_EQ(ReadFile(Path("target.wav")), expected);

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    std::string fromFifo;
    std::thread reader([&] { fromFifo = ReadFile(Path("fifo")); });
    EXPECT_EQ(run(Path("fifo")).status, 0);
    reader.join();
    EXPECT_EQ(fromFifo, expected);
    EXPECT_EQ(fs::status(Path("fifo")).type(), fs::file_type::fifo);

    ChildProcess toStdout;
    std::vector<std::string> a{kRender, "-o", "/dev/stdout"};
    a.insert(a.end(), args.begin(), args.end());
    ASSERT_TRUE(toStdout.Start(a));
    EXPECT_EQ(toStdout.ReadAllStdout(), expected);
    EXPECT_EQ(toStdout.Wait(10s), 0);

    EXPECT_EQ(std::distance(fs::directory_iterator(m_directory), fs::directory_iterator()), 5)
        << "a temporary file was left behind";
}

std::size_t Entries(const std::string& folder)
{
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// A stop signal in each phase that can last: the tool ends at once with
// 128 + the signal, and an existing file is as it was, with nothing beside it.
TEST_F(RenderTool, stopSignalInEveryPhase_endsAtOnceAndLeavesTheFileAsItWas)
{
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    const struct {
        const char* phase;
        std::vector<std::string> arguments;
        int signal;
    } cases[] = {
        {"a pipe with no reader", {"-o", Path("fifo")}, SIGTERM},
        {"a long write over a file", {"-n", "2000", "-o", Path("keep.wav")}, SIGINT},
        {"a play that waits for a pipe", {"-p", "3", "-o", Path("fifo")}, SIGINT},
        {"a hang-up while writing", {"-n", "2000", "-o", Path("keep.wav")}, SIGHUP},
    };
    for (const auto& c : cases) {
        std::ofstream(Path("keep.wav")) << "precious";
        ChildProcess render;
        std::vector<std::string> argv = c.arguments;
        argv.insert(argv.begin(), kRender);
        ASSERT_TRUE(render.Start(argv));
        ASSERT_TRUE(render.WaitForStderr("Hz\n", 10s)) << c.phase;
        std::this_thread::sleep_for(50ms);  // into the phase (it lasts seconds)
        render.Signal(c.signal);
        const auto signalled = std::chrono::steady_clock::now();
        EXPECT_EQ(render.Wait(10s), 128 + c.signal) << c.phase;
        EXPECT_TRUE(render.Signalled()) << c.phase << ": a shell's loop would go on";
        EXPECT_LE(std::chrono::steady_clock::now() - signalled, 1s) << c.phase;
        EXPECT_EQ(ReadFile(Path("keep.wav")), "precious") << c.phase;
        EXPECT_EQ(Entries(m_directory), 2u) << c.phase << ": something was left beside it";
    }
}

// A path that is the tool's own standard output (or the file it was
// redirected to) is written through that descriptor, as "-" is: nothing the
// shell wrote there before or after is lost.
TEST_F(RenderTool, pathOfAnOpenDescriptor_isWrittenThroughIt)
{
    const std::string log = Path("log");
    // (the build's path has no spaces)
    const std::string render = std::string(kRender) + " -n 1 --raw -o ";
    const struct {
        const char* script;
        const char* before;
        const char* after;
    } cases[] = {
        {"printf 'LOG START\\n' > log; $R /dev/stdout >> log", "LOG START\n", ""},
        {"{ printf A; $R /dev/stdout; printf Z; } > log", "A", "Z"},
        {"{ printf A; $R /dev/fd/1; printf Z; } > log", "A", "Z"},
        {"{ printf A; $R /proc/self/fd/1; printf Z; } > log", "A", "Z"},
        {"{ printf A >&2; $R /dev/stderr; printf Z >&2; } 2> log", "A", "Z"},
        {"printf 'LOG START\\n' > log; $R log >> log", "LOG START\n", ""},
    };
    for (const auto& c : cases) {
        const ProcessResult run = RunProcess(
            {"/bin/bash", "-c",
             "cd '" + m_directory + "' && R=\"" + render + "\" && " + "eval \"${0}\"", c.script});
        EXPECT_EQ(run.status, 0) << c.script << ": " << run.err;
        const std::string written = ReadFile(log);
        const std::string before = c.before;
        const std::string after = c.after;
        ASSERT_GE(written.size(), before.size() + after.size()) << c.script;
        EXPECT_EQ(written.substr(0, before.size()), before) << c.script;
        EXPECT_EQ(written.substr(written.size() - after.size()), after) << c.script;
        // One pass of the raw sine (and the status line, for stderr) between.
        EXPECT_GE(written.size() - before.size() - after.size(), 960000u) << c.script;
        EXPECT_EQ(Entries(m_directory), 1u) << c.script;
        fs::remove(log);
    }
}

// A file with extended attributes (an ACL is one) is written in place, so
// that it keeps them as ">" would; and a file system without /proc still
// gets its new file by a link of the descriptor itself.
TEST_F(RenderTool, extendedAttributesKeptAndNoProcNeeded)
{
    const std::string kept = Path("kept.wav");
    std::ofstream(kept) << "old";
    if (setxattr(kept.c_str(), "user.note", "lab", 3, 0) != 0) {
        GTEST_SKIP() << "no user attributes on this file system";
    }
    ASSERT_EQ(RunProcess({kRender, "-o", kept}).status, 0);
    char note[8] = {};
    EXPECT_EQ(getxattr(kept.c_str(), "user.note", note, sizeof note), 3) << "attribute lost";
    EXPECT_EQ(fs::file_size(kept), 960044u);

#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizers' runtime needs /proc";
#endif
    // (a chroot, where "/" is no mount point, cannot make one private)
    if (geteuid() != 0 || RunProcess({"/usr/bin/unshare", "-m", "/bin/true"}).status != 0) {
        GTEST_SKIP() << "hiding /proc needs a private mount namespace of root's";
    }
    const std::string fresh = Path("fresh.wav");
    std::ofstream(fresh) << "old";
    const ProcessResult hidden =
        RunProcess({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                    "mount -t tmpfs none /proc && exec \"$0\" -o \"$1\"", kRender, fresh},
                   {"ASAN_OPTIONS=detect_leaks=0"});  // (the leak checker needs /proc)
    ASSERT_EQ(hidden.status, 0) << hidden.err;
    EXPECT_EQ(fs::file_size(fresh), 960044u);
    EXPECT_EQ(Entries(m_directory), 2u) << "something was left beside it";
}

// Written as the shell's ">" would allow, keeping the file's identity.
TEST_F(RenderTool, permissionsAndIdentity_asTheShellWouldAllow)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root, to switch to the user nobody";
    }
    const std::vector<std::string> asNobody{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup",
                                            "--clear-groups", kRender};
    const auto run = [&](bool nobody, const std::string& path) {
        std::vector<std::string> argv = nobody ? asNobody : std::vector<std::string>{kRender};
        argv.insert(argv.end(), {"-f", "1000", "-o", path});
        return RunProcess(argv);
    };
    const auto make = [](const std::string& path, mode_t mode, uid_t owner) {
        std::ofstream(path) << "old";
        EXPECT_EQ(chown(path.c_str(), owner, owner), 0);
        EXPECT_EQ(chmod(path.c_str(), mode), 0);
    };
    constexpr uid_t kNobody = 65534;
    chmod(m_directory.c_str(), 01777);
    struct stat status {};

    make(Path("roots.wav"), 0644, 0);  // another user's file in a world-writable folder
    EXPECT_EQ(run(true, Path("roots.wav")).status, 3);
    EXPECT_EQ(ReadFile(Path("roots.wav")), "old");

    make(Path("readonly.wav"), 0444, kNobody);  // one's own read-only file
    EXPECT_EQ(run(true, Path("readonly.wav")).status, 3);
    EXPECT_EQ(ReadFile(Path("readonly.wav")), "old");

    make(Path("theirs.wav"), 0640, kNobody);  // root rewrites another user's file
    EXPECT_EQ(run(false, Path("theirs.wav")).status, 0);
    ASSERT_EQ(stat(Path("theirs.wav").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kNobody);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFile(Path("theirs.wav")).size(), 44u + 960000u);

    make(Path("linked.wav"), 0644, 0);
    ASSERT_EQ(link(Path("linked.wav").c_str(), Path("other-link.wav").c_str()), 0);
    EXPECT_EQ(run(false, Path("linked.wav")).status, 0);
    EXPECT_EQ(ReadFile(Path("other-link.wav")).size(), 44u + 960000u) << "the link was broken";

    fs::create_directory(Path("closed"));
    chmod(Path("closed").c_str(), 0755);
    make(Path("closed/open.wav"), 0666, 0);  // a writable file in a folder that is not
    EXPECT_EQ(run(true, Path("closed/open.wav")).status, 0);
    EXPECT_EQ(ReadFile(Path("closed/open.wav")).size(), 44u + 960000u);

    const std::string longest = Path(std::string(251, 'n').append(".wav").c_str());
    EXPECT_EQ(run(false, longest).status, 0) << "a 255-character name";

    std::ofstream(Path("killed.wav")) << "precious";
    ChildProcess render;
    ASSERT_TRUE(render.Start({kRender, "-n", "2000", "-o", Path("killed.wav")}));
    ASSERT_TRUE(render.WaitForStderr("Hz\n", 10s));
    std::this_thread::sleep_for(50ms);
    render.Signal(SIGKILL);
    render.Wait(10s);
    EXPECT_EQ(ReadFile(Path("killed.wav")), "precious");
    EXPECT_EQ(Entries(m_directory), 8u) << "kill -9 left something behind";
}

// sox learns the type from its first read: the header comes with the samples.
TEST_F(RenderTool, pipeIntoSox_readsTheHeaderEveryTime)
{
    if (access("/usr/bin/sox", X_OK) != 0) {
        GTEST_SKIP() << "needs sox";
    }
    for (int run = 0; run < 40; ++run) {
        const ProcessResult piped =
            RunProcess({"/bin/sh", "-c", kRender + " -o - | /usr/bin/sox - -n stat"});
        ASSERT_EQ(piped.status, 0) << "run " << run << ": " << piped.err;
    }
}

TEST_F(RenderTool, readerStopsEarly_endsQuietlyAndLeavesNoTemporaryFile)
{
    fs::create_directory(Path("tmp"));
    ChildProcess render;
    ASSERT_TRUE(
        render.Start({kRender, "--raw", "-o", "-", "-n", "200"}, {"TMPDIR=" + Path("tmp")}));
    char first[1000];
    ASSERT_EQ(read(render.Stdout(), first, sizeof first), 1000);
    render.CloseStdout();
    const int status = render.Wait(10s);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1) << "still writing";
    EXPECT_EQ(render.Stderr(), "This is a sine wave, 500.000 Hz\n");
    EXPECT_TRUE(fs::is_empty(Path("tmp")));
}

class RenderPlay : public RenderTool {
protected:
    void SetUp() override
    {
        RenderTool::SetUp();
        if (std::getenv("PULSE_SERVER") == nullptr) {
            GTEST_SKIP() << "needs the private sound server (run through ctest)";
        }
    }

    // Starts an endless play and returns once it plays.
    void StartPlaying(ChildProcess& render, std::vector<std::string> extra = {},
                      std::vector<std::string> environment = {})
    {
        extra.insert(extra.begin(), {kRender, "-p"});
        ASSERT_TRUE(render.Start(extra, environment));
        ASSERT_TRUE(render.WaitForStderr("Hz\n", 10s)) << render.Stderr();
    }
};

// Interrupted with the sound server playing, and with it stopped (hung):
// either way the tool ends at once.
TEST_F(RenderPlay, interruptedEndlessPlay_exits0AtOnceWhateverTheServerDoes)
{
    for (const bool hung : {false, true}) {
        SoundServer server;
        ASSERT_TRUE(server.Start());
        ChildProcess render;
        StartPlaying(render);
        if (hung) {
            server.Signal(SIGSTOP);
        }
        render.Signal(SIGINT);
        const auto interrupted = std::chrono::steady_clock::now();
        EXPECT_EQ(render.Wait(10s), 0) << "hung " << hung;
        // (milliseconds; a sanitizer's own exit takes about a second)
        EXPECT_LE(std::chrono::steady_clock::now() - interrupted, 2s) << "hung " << hung;
        server.Signal(SIGCONT);
    }
}

// A stop signal while the open waits on a hung server ends the tool at
// once: an endless play as it would end anyway, a timed one by the signal;
// the open is given up, not reported as failed.
TEST_F(RenderPlay, signalWhileTheOpenWaits_endsAtOnceWithNoFailure)
{
    struct Case {
        std::vector<std::string> play;
        int signal;
        int status;
    };
    const Case cases[] = {{{"-p"}, SIGINT, 0},
                          {{"-p"}, SIGTERM, 0},
                          {{"-p"}, SIGHUP, 128 + SIGHUP},
                          {{"-p", "5"}, SIGINT, 128 + SIGINT}};
    SoundServer server;
    ASSERT_TRUE(server.Start());
    server.Signal(SIGSTOP);
    for (const Case& c : cases) {
        ChildProcess render;
        std::vector<std::string> argv{kRender};
        argv.insert(argv.end(), c.play.begin(), c.play.end());
        ASSERT_TRUE(render.Start(argv));
        // The device's thread is there once the open waits for it.
        ASSERT_TRUE(WaitFor([&] { return render.ThreadCount() >= 2; }, 10s));
        render.Signal(c.signal);
        EXPECT_EQ(render.Wait(10s), c.status) << c.play.size() << " " << c.signal;
        EXPECT_EQ(render.Signalled(), c.status != 0) << c.play.size() << " " << c.signal;
        EXPECT_EQ(render.Stderr().find("cannot open"), std::string::npos) << render.Stderr();
    }
    server.Signal(SIGCONT);
}

// Ended while the server hangs: once the server is back, what it still
// plays of the tool's stream is at most the device buffer, under 100 ms.
TEST_F(RenderPlay, endedDuringAHang_leavesUnder100MsOfStaleSound)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    MonitorRecorder recorder;
    ASSERT_TRUE(recorder.Start());
    ChildProcess render;
    StartPlaying(render);
    ASSERT_TRUE(recorder.WaitUntil(
        [](const std::vector<std::int16_t>& s) { return !s.empty() && s.back() != 0; }, 10s));
    server.Signal(SIGSTOP);
    render.Signal(SIGTERM);
    EXPECT_EQ(render.Wait(10s), 0);
    // What the monitor had sent before the hang is all read in.
    std::size_t resumed = recorder.SampleCount();
    ASSERT_TRUE(WaitFor([&] {
        std::this_thread::sleep_for(100ms);
        return std::exchange(resumed, recorder.SampleCount()) == resumed;
    }));
    server.Signal(SIGCONT);
    ASSERT_TRUE(recorder.WaitForSamples(resumed + 24000, 10s));
    const std::vector<std::int16_t> samples = recorder.Samples();
    const auto stale = std::count_if(samples.begin() + static_cast<long>(resumed), samples.end(),
                                     [](std::int16_t v) { return v != 0; });
    EXPECT_LE(stale, 4800) << stale / 48 << " ms of sound after the end";
}

// A timed play during which the server hung says how much was silent.
TEST_F(RenderPlay, timedPlayWithAHungServer_saysHowMuchWasSilent)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    ChildProcess render;
    StartPlaying(render, {"2"});
    server.Signal(SIGSTOP);
    EXPECT_EQ(render.Wait(10s), 0);
    server.Signal(SIGCONT);
    EXPECT_NE(render.Stderr().find(" s were silent: the sound server took no sound\n"),
              std::string::npos)
        << render.Stderr();
}

TEST_F(RenderPlay, serverKilledMidPlay_reportsTheLossAndExits1)
{
    SoundServer server;
    ASSERT_TRUE(server.Start());
    ChildProcess render;
    StartPlaying(render);
    server.Signal(SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(render.WaitForStderr("lost", 10s)) << render.Stderr();
    EXPECT_LE(std::chrono::steady_clock::now() - killed, 500ms);
    EXPECT_EQ(render.Wait(10s), 1);
    EXPECT_EQ(render.Stderr().rfind("This is a sine wave, 500.000 Hz\nwavegen-render: lost PCM "
                                    "'default': ",
                                    0),
              0u)
        << render.Stderr();
    EXPECT_TRUE(render.Stderr().ends_with("\nwavegen-render: the output device was lost\n"));
}

TEST_F(RenderPlay, deviceOption_playsOnTheNamedPcmOnly)
{
    const ProcessResult loaded =
        RunProcess({"/usr/bin/pactl", "load-module", "module-null-sink", "sink_name=secondsink",
                    "rate=48000", "channels=1", "format=s16le"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    const std::string module = loaded.out.substr(0, loaded.out.find('\n'));
    std::ofstream(Path(".asoundrc")) << "pcm.second { type pulse device \"secondsink\" }\n";
    MonitorRecorder first;
    MonitorRecorder second("secondsink.monitor");
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    const std::size_t firstBefore = first.SampleCount();
    const std::size_t secondBefore = second.SampleCount();
    ChildProcess render;
    StartPlaying(render, {"-D", "second"}, {"HOME=" + m_directory});
    EXPECT_TRUE(second.WaitUntil(
        [&](const std::vector<std::int16_t>& s) {
            return std::any_of(s.begin() + static_cast<long>(secondBefore), s.end(),
                               [](std::int16_t v) { return v != 0; });
        },
        10s))
        << "nothing reached the named sink";
    render.Signal(SIGTERM);
    EXPECT_EQ(render.Wait(10s), 0);
    first.Stop();
    const std::vector<std::int16_t> heard = first.Samples();
    EXPECT_TRUE(std::all_of(heard.begin() + static_cast<long>(firstBefore), heard.end(),
                            [](std::int16_t v) { return v == 0; }))
        << "the default sink played too";
    second.Stop();
    RunProcess({"/usr/bin/pactl", "unload-module", module});
}

}  // namespace
