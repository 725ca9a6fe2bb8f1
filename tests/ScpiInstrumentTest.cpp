// The SCPI instrument on a silent output: one session, a line at a time,
// each with the answer it must give.
#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <vector>

#include "FakeTickSource.h"
#include "RecordingWaveOut.h"
#include "SampleBuffer.h"
#include "ScpiInstrument.h"
#include "SilentWaveOut.h"

namespace {

TEST(ScpiInstrument, session_answersAsTheStandardsAndTheWindowSay)
{
    SilentWaveOut device;
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    const struct {
        const char* line;
        const char* answer;
    } session[] = {
        // Long and short forms in any case, optional nodes, several per line.
        {"*idn?", "wavegen,wavegen-scpi,0,1.0.0"},
        {"SOURce:FUNCtion:SHAPe?;source:function?;FUNC?", "SIN;SIN;SIN"},
        {"FUNCT?", ""},  // neither form: the rest of the line is not run
        {"SYST:ERR?", "-113,\"Undefined header\""},
        {":SOUR:FREQ:CW 1.5 KHZ;FREQ?", "1.5000000000E+03"},
        {"SOUR:FREQ 440;:FUNC TRI;FUNC?;FREQ?", "TRI;4.4000000000E+02"},
        // The window's corrections and refusals, with its texts.
        {"FREQ 5;FREQ?", "1.0000000000E+01"},
        {"SYST:ERR:COUN?;:SYST:ERR?",
         "1;-222,\"Data out of range; That was too low a frequency for ordinary sound cards.\""},
        {"FREQ 1000;FUNC PULS;:SYST:ERR?",
         "-221,\"Settings conflict; decrease the frequency below 480.000Hz\""},
        {"*RST;FUNC?;FREQ?;OUTP?", "SIN;5.0000000000E+02;0"},
        // An illegal frequency changes nothing, the output included; one
        // past every double is the box's "too high", as in the window.
        {"FREQ 700;OUTP ON", ""},
        {"FREQ -5", ""},
        {"FREQ 0", ""},
        {"FREQ?;OUTP?;:SYST:ERR?;ERR?",
         "7.0000000000E+02;1;-224,\"Illegal parameter value; not a frequency above 0 Hz: -5\";"
         "-224,\"Illegal parameter value; not a frequency above 0 Hz: 0\""},
        {"FREQ 1e999;FREQ?;OUTP?;:SYST:ERR?",
         "1.6000000000E+04;1;-222,\"Data out of range; Frequency is too high; try less than "
         "16000\""},
        {"*RST", ""},
        // Parameters and suffixes.
        {"FREQ 1 XHZ", ""},
        {"FREQ", ""},
        {"OUTP MAYBE", ""},
        {"*IDN? 1", ""},
        {"SYST:ERR?;ERR?;ERR?;ERR?",
         "-131,\"Invalid suffix; not a frequency: 1 XHZ\";-109,\"Missing parameter\";"
         "-224,\"Illegal parameter value; not ON, OFF or a number: MAYBE\";"
         "-108,\"Parameter not allowed\""},
        {"SYST:ERR?", "0,\"No error\""},
        // Status registers: each error class sets its bit.
        {"*CLS;*ESE 60;*ESR?;*STB?", "0;0"},
        {"bogus;:OUTP 2", ""},
        {"*STB?;*ESR?;*ESR?;*STB?", "36;32;0;4"},
        {"*CLS;*STB?;*OPC;*ESR?;*OPC?;*TST?", "0;1;1;0"},
        {"OUTP ON;OUTP?;:STAT?", "1;\"This is a sine wave, 500.000 Hz\""},
        {"SYST:VERS?", "1999.0"},
    };
    for (const auto& step : session) {
        EXPECT_EQ(instrument.Execute(step.line), step.answer) << step.line;
    }
    // Sixteen errors at most; the last place says the queue overflowed.
    for (int i = 0; i < 20; ++i) {
        instrument.Execute("bogus");
    }
    EXPECT_EQ(instrument.Execute("SYST:ERR:COUN?"), "16");
    for (int i = 0; i < 15; ++i) {
        instrument.Execute("SYST:ERR?");
    }
    EXPECT_EQ(instrument.Execute("SYST:ERR?"), "-350,\"Queue overflow\"");
}

// What drivers written for bench generators send: each line with the
// answer it must give, and then the error queue's next entry.
TEST(ScpiInstrument, driversAndTheStandards_eachLineAndTheErrorItLeaves)
{
    SilentWaveOut device;
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    const std::string noError = "0,\"No error\"";
    const struct {
        const char* line;
        const char* answer;
        std::string error;
    } session[] = {
        // IEEE 488.2: NRf integers rounded, no suffix; bit 6 of *SRE never set.
        {"*ESE 4.6;*ESE?", "5", noError},
        {"*ESE 0.1KHZ;*ESE?", "", "-138,\"Suffix not allowed; 0.1KHZ\""},
        {"*SRE 255;*SRE?", "191", noError},
        {"*ESE 256", "", "-222,\"Data out of range; 256 is not 0 to 255\""},
        {"*FOO 1", "", "-113,\"Undefined header; *FOO\""},
        {"*SAV 1", "", "-113,\"Undefined header; *SAV\""},
        {"*OPT?", "0", noError},
        // Numbered nodes: channel 1 or 2, and 1 without a number.
        {"SOUR1:FREQ 1000;FREQ1?;:OUTP1 ON;OUTP1?;:FUNC1 SQU;FUNC1?", "1.0000000000E+03;1;SQU",
         noError},
        {"SOUR2:FREQ 2000;FREQ?;:FREQ?;:OUTP2?", "2.0000000000E+03;1.0000000000E+03;0", noError},
        {"SOUR3:FREQ 2000", "", "-114,\"Header suffix out of range; SOUR3\""},
        // Booleans: nonzero after rounding is ON.
        {"OUTP 0.4;OUTP?;OUTP 2;OUTP?", "0;1", noError},
        // MIN, MAX and DEF as values and as query parameters; GHz a unit.
        {"FREQ? MIN;FREQ? MAX", "1.0000000000E+01;1.6000000000E+04", noError},
        {"FREQ DEF;FREQ?", "5.0000000000E+02", noError},
        {"FREQ 1 GHZ;FREQ?", "1.6000000000E+04",
         "-222,\"Data out of range; Frequency is too high; try less than 16000\""},
        {"FREQ? 5", "", "-108,\"Parameter not allowed; 5\""},
        // SCPI-99's status registers.
        {"STAT:QUES:ENAB 512;ENAB?;:STAT:PRES;:STAT:QUES:ENAB?", "512;0", noError},
        {"STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES?;:STAT:QUES:COND?", "0;0;0;0", noError},
        // Amplitude against the full scale (2 Vpp unless told otherwise).
        {"*RST;VOLT:RANG?;VOLT?;VOLT? MIN", "2.0000000000E+00;2.0000000000E+00;2.0000000000E-03",
         noError},
        {"VOLT 500 MV;VOLT?;:VOLT:UNIT VRMS;:VOLT?;:VOLT:UNIT?",
         "5.0000000000E-01;1.7677669530E-01;VRMS", noError},
        {"VOLT:UNIT VPP;:VOLT 3", "",
         "-222,\"Data out of range; the amplitude is 2.0000000000E-03 to 2.0000000000E+00 VPP\""},
        {"VOLT MAX;:FUNC NOIS;FUNC?;VOLT?", "NOIS;1.0000000000E+00", noError},
        {"FUNC SIN;VOLT 1.5;:FUNC NOIS;VOLT?", "1.0000000000E+00",
         "-221,\"Settings conflict; amplitude reduced to the most this function has\""},
        {"VOLT:OFFS 0;VOLT:OFFS?", "0.0000000000E+00", noError},
        {"VOLT:OFFS 0.1", "",
         "-221,\"Settings conflict; the output is AC-coupled: the offset is 0 V\""},
        {"OUTP:LOAD INF;LOAD?;LOAD 50;LOAD?", "9.9000000000E+37;5.0000000000E+01", noError},
        {"APPL:SQU 1 KHZ,0.5;:APPL?;:OUTP?",
         "\"SQU 1.0000000000E+03,5.0000000000E-01,0.0000000000E+00\";1", noError},
        // An execution error leaves the rest of the message to run; a
        // command error ends it.
        {"*RST;VOLT 99;*OPC?", "1",
         "-222,\"Data out of range; the amplitude is 2.0000000000E-03 to 2.0000000000E+00 VPP\""},
        {"FREQ abc;FREQ?", "5.0000000000E+02",
         "-224,\"Illegal parameter value; not a frequency: abc\""},
        {"FREQ 700;VOLT #15;FREQ;FREQ?", "7.0000000000E+02",
         "-224,\"Illegal parameter value; not an amplitude: #15;FREQ\""},
        {"FREQ \"a;b\";FREQ?", "7.0000000000E+02",
         "-224,\"Illegal parameter value; not a frequency: \"\"a;b\"\"\""},
        {"*ESE 1,2;*ESE?", "", "-108,\"Parameter not allowed\""},
        {"SYST:ERR? x;*OPC?", "", "-108,\"Parameter not allowed\""},
        {"FREQ #H3E8;FREQ?;FREQ? DEF", "1.0000000000E+03;5.0000000000E+02", noError},
        {"FREQ:FIX #B10010110000;FREQ:FIXED?", "1.2000000000E+03", noError},
        {"STAT:OPER:ENAB 65535;ENAB?", "32767", noError},
        // Transition filters: the lost output (bit 9) as it falls, not rises.
        {"STAT:QUES:PTR 0;NTR 512;PTR?;NTR?", "0;512", noError},
        {"SYST:ERR:CODE?;:SYST:ERR:ALL?", "0;0,\"No error\"", noError},
        {"*RST", "", noError},
    };
    for (const auto& step : session) {
        EXPECT_EQ(instrument.Execute(step.line), step.answer) << step.line;
        EXPECT_EQ(instrument.Execute("SYST:ERR?"), step.error) << step.line;
    }
    // An error's text is at most 255 characters, however long the cause.
    instrument.Execute("FUNC " + std::string(4000, 'x'));
    EXPECT_EQ(instrument.Execute("SYST:ERR?").size(), std::string("-224,\"\"").size() + 255);
    // The service request: the error summary enabled sets the master summary.
    EXPECT_EQ(instrument.Execute("*CLS;*SRE 4;bogus"), "");
    EXPECT_EQ(instrument.Execute("*STB?"), "68");
}

// What generator drivers send beyond shape, frequency and level: each line
// with its answer and the error it leaves, refusals naming their reason.
TEST(ScpiInstrument, generatorDriversCommands_eachLineAndTheErrorItLeaves)
{
    using namespace std::string_literals;
    SilentWaveOut device;
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    const std::string noError = "0,\"No error\"";
    const std::string conflict = "-221,\"Settings conflict; ";
    const std::string range = "-222,\"Data out of range; ";
    const struct {
        std::string line;
        const char* answer;
        std::string error;
    } session[] = {
        {"FUNC RAMP;FUNC:RAMP:SYMM 30;SYMM?;:FUNC?", "3.0000000000E+01;RAMP", noError},
        {"FUNC:RAMP:SYMM 101", "",
         range + "the symmetry is 0.0000000000E+00 to 1.0000000000E+02 %\""},
        {"APPL:USER 1000;:FUNC?", "RAMP", conflict + "no arbitrary waveform is selected\""},
        {"FUNC DC;FUNC?", "RAMP", conflict + "the output is AC-coupled: it gives no DC\""},
        // Each part of a square at least one sample: a third of 48 kHz.
        {"FREQ 16000;FUNC SQU;FUNC:SQU:DCYC 20", "",
         range + "the duty cycle at this frequency is 3.3333333333E+01 to 6.6666666667E+01 %\""},
        // The 1:100 pulse's limit, and a width's own.
        {"*RST;FREQ 1000;FUNC PULS;FUNC?", "SIN",
         conflict + "decrease the frequency below 480.000Hz\""},
        {"FREQ 200;FUNC PULS;FREQ? MAX;:PULS:WIDT 1 MS;:FREQ 1000;FREQ?;FREQ? MAX",
         "4.8000000000E+02;2.0000000000E+02;9.7959183673E+02",
         conflict + "decrease the frequency below 979.592Hz\""},
        {"FUNC:PULS:HOLD DCYC;:FREQ 400;PULS:WIDT?;DCYC?", "5.0000000000E-04;2.0000000000E+01",
         noError},
        {"PULS:TRAN 50 NS", "",
         range + "the edge time is 2.0833333333E-05 to 5.0000000000E-04 s\""},
        // Levels: a unit on the value, dBm into a finite load, HIGH and LOW.
        {"*RST;VOLT 0.5VRMS;VOLT?;:VOLT:UNIT?", "1.4142135624E+00;VPP", noError},
        {"VOLT -10 DBM;VOLT?", "2.0000000000E-01", noError},
        {"OUTP:LOAD INF;:VOLT:UNIT DBM", "", conflict + "dBm needs a finite OUTPut:LOAD\""},
        {"VOLT:HIGH 0.8;LOW -0.8;HIGH?;LOW?;:VOLT?",
         "8.0000000000E-01;-8.0000000000E-01;1.6000000000E+00", noError},
        {"VOLT:HIGH -0.1", "",
         conflict + "the output is AC-coupled: the high level is above 0 V and the low level "
                    "below, symmetric about 0 V\""},
        {"VOLT:HIGH 1;LOW -0.5;:VOLT?", "2.0000000000E+00",
         conflict + "the output is AC-coupled: the high and low levels are symmetric about 0 V, "
                    "and they are now 1.0000000000E+00 V and -1.0000000000E+00 V\""},
        {"OUTP:POL INV;POL?;:PHAS 90;PHAS?;:UNIT:ANGL RAD;:PHAS?",
         "INV;9.0000000000E+01;1.5707963268E+00", noError},
        {"PHAS 7", "", range + "the phase is -6.2831853072E+00 to 6.2831853072E+00 RAD\""},
        {"UNIT:ANGL DEG;:PHAS:SYNC", "", noError},
        // Bursts, triggers, and the outputs a sound card has not.
        {"*TRG", "", "-211,\"Trigger ignored; no burst or sweep waits for a BUS trigger\""},
        {"BURS:NCYC INF;NCYC?;:BURS:STAT ON;STAT?", "9.9000000000E+37;0",
         conflict + "an endless burst needs a trigger: set TRIGger:SOURce BUS\""},
        {"TRIG:SOUR BUS;:BURS:STAT ON;STAT?;:TRIG:SOUR?", "1;BUS", noError},
        {"*TRG", "", "-211,\"Trigger ignored; the output is off\""},
        {"BURS:MODE GAT", "",
         conflict + "no gate input: bursts are triggered (BUS) or repeat (IMMediate)\""},
        {"TRIG:SOUR EXT", "",
         conflict + "no trigger input: the source is IMMediate, TIMer or BUS\""},
        {"OUTP:SYNC ON", "",
         conflict + "the sound card has no sync or trigger output: it stays off\""},
        {"OUTP:SYNC OFF;SYNC?", "0", noError},
        // Sweeps: centre and span move both ends.
        {"*RST;FREQ:STAR 100;STOP 1000;CENT?;SPAN?", "5.5000000000E+02;9.0000000000E+02", noError},
        {"FREQ:SPAN 200;STAR?;STOP?;:SWE:STAT ON;STAT?", "4.5000000000E+02;6.5000000000E+02;1",
         noError},
        {"SWE:TIME 30", "", range + "the sweep time is 1.0000000000E-03 to 2.1745333333E+01 s\""},
        // Arbitrary waveforms: ASCII, DAC codes, a block in either byte order.
        {"DATA VOLATILE, 0, 0.5, 1, -1;FUNC:USER VOLATILE;:FUNC USER;FUNC?;FUNC:USER?",
         "USER;VOLATILE", noError},
        {"DATA:ARB:DAC NEXT, 0, 40000", "",
         range + "a code is a whole number from -32767 to 32767: 40000\""},
        {"FORM:BORD SWAP;:DATA:ARB:DAC W,#14\x01\x00\xff\x7f;:DATA:ATTR:POIN? W"s, "2", noError},
        {"DATA:CAT?;:FUNC:ARB NOPE", "\"VOLATILE\",\"W\"",
         "-224,\"Illegal parameter value; no waveform named NOPE; stored: VOLATILE, W\""},
        {"DATA:DEL VOLATILE", "",
         conflict + "the waveform plays: select another before deleting it\""},
        {"DATA:VOL:CLE;:DATA:CAT?;:FUNC?", "\"\";USER", noError},
        // Two channels, each its own settings; channel 2 tracks channel 1.
        {"*RST;SOUR2:FUNC SQU;FREQ 250;:SOUR2:FUNC?;FREQ?;:FUNC?;FREQ?;:OUTP2?",
         "SQU;2.5000000000E+02;SIN;5.0000000000E+02;0", noError},
        {"SOUR2:TRAC INV;:FREQ 800;OUTP ON;:SOUR2:FREQ?;FUNC?;:OUTP:POL?;:OUTP2:POL?;:OUTP2?",
         "8.0000000000E+02;SIN;NORM;INV;1", noError},
        {"OUTP OFF;:OUTP2?;:TRAC OFF;:SOUR2:FREQ 300;:FREQ?", "0;8.0000000000E+02", noError},
        {"OUTP3 ON", "", "-114,\"Header suffix out of range; OUTP3\""},
        {"OUTP ON;:OUTP2 ON;:SOUR2:BURS:INT:PER 0.007;:SOUR2:BURS:STAT ON;STAT?", "0",
         conflict + "the two channels' loops (336 and 480000 samples) do not fit one buffer: "
                    "make one a multiple of the other\""},
        {"*RST;TRAC?;:SOUR2:FREQ?", "OFF;5.0000000000E+02", noError},
        // Coupled frequencies (a ratio or an offset, either way) and levels.
        {"FREQ:COUP:MODE RAT;RAT 2;:FREQ:COUP ON;:FREQ 300;:SOUR2:FREQ?", "6.0000000000E+02",
         noError},
        {"SOUR2:FREQ 1000;:FREQ?;:FREQ:COUP:MODE OFFS;OFFS 100;:FREQ 300;:SOUR2:FREQ?",
         "5.0000000000E+02;4.0000000000E+02", noError},
        {"VOLT:COUP ON;:SOUR2:VOLT 0.5;:VOLT?;:FREQ:COUP?;:VOLT:COUP?", "5.0000000000E-01;1;1",
         noError},
        {"FREQ:COUP:RAT 5000", "",
         range + "the frequency ratio is 1.0000000000E-03 to 1.0000000000E+03\""},
        // What the instrument has no hardware for: accepted, and silent.
        {"SYST:BEEP;:SYST:LOC;:SYST:COMM:RLST?;:DISP:TEXT 'a\"b<i>';TEXT?", "LOC;\"a\"\"b<i>\"",
         noError},
    };
    for (const auto& step : session) {
        EXPECT_EQ(instrument.Execute(step.line), step.answer) << step.line;
        EXPECT_EQ(instrument.Execute("SYST:ERR?"), step.error) << step.line;
    }
}

// The level scales the samples; at full scale they stay exactly as the
// window plays them.
TEST(ScpiInstrument, amplitude_scalesTheSamplesAndFullScaleLeavesThem)
{
    SilentWaveOut device;
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    const auto peak = [] { return *std::max_element(g_sampleBuffer, g_sampleBuffer + 48000); };
    instrument.Execute("FUNC SQU;FREQ 100;OUTP ON");
    EXPECT_EQ(peak(), 32767);
    instrument.Execute("VOLT 1");
    EXPECT_EQ(peak(), 16384);  // 16383.5, halves away from zero
    instrument.Execute("VOLT MAX");
    EXPECT_EQ(peak(), 32767);
}

// The same setting again touches nothing; a lost device keeps the output
// on, is queued once and shows as a QUEStionable condition until it is back.
TEST(ScpiInstrument, sameSettingAndLostDevice_noRestartAndOneError)
{
    std::vector<std::string> log;
    RecordingWaveOut device(log);
    FakeTickSource ticks;
    ScpiInstrument instrument(device, ticks);
    instrument.Execute("FREQ 700;OUTP ON");
    const auto opens = [&] { return std::count(log.begin(), log.end(), "open"); };
    const auto before = opens();
    instrument.Execute("FREQ 700;FUNC SIN;OUTP ON;OUTP 1;VOLT MAX");
    EXPECT_EQ(opens(), before);
    device.LoseLast();
    instrument.OnOutputChange();
    instrument.OnOutputChange();
    EXPECT_EQ(instrument.Execute("OUTP?;:STAT:QUES:COND?;:SYST:ERR:COUN?"), "1;512;1");

    device.RecoverLast();
    instrument.OnOutputChange();
    EXPECT_EQ(instrument.Execute("OUTP?;:STAT:QUES:COND?;:STAT:QUES?;:STAT:QUES?"), "1;0;512;0");
    // With the transition filters turned round, the event is the sound's
    // return, not its loss.
    instrument.Execute("STAT:QUES:PTR 0;NTR 512");
    device.LoseLast();
    instrument.OnOutputChange();
    EXPECT_EQ(instrument.Execute("STAT:QUES:COND?;:STAT:QUES?"), "512;0");
    device.RecoverLast();
    instrument.OnOutputChange();
    EXPECT_EQ(instrument.Execute("STAT:QUES:COND?;:STAT:QUES?"), "0;512");
    // Each channel's own register: the loss is channel 1's (channel 2 is
    // off); enabled, it sums up through the instrument summary to bit 13.
    instrument.Execute("STAT:PRES;*CLS;:STAT:QUES:INST:ISUM1:ENAB 512;:STAT:QUES:INST:ENAB 2");
    device.LoseLast();
    instrument.OnOutputChange();
    EXPECT_EQ(instrument.Execute("STAT:QUES:INST:ISUM1:COND?;:STAT:QUES:INST:ISUM2:COND?;"
                                 ":STAT:QUES:INST:COND?;:STAT:QUES:COND?"),
              "512;0;2;8704");
}

}  // namespace
