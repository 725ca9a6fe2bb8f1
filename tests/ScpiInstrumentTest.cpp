// The SCPI instrument on a silent output: one session, a line at a time,
// each with the answer it must give.
#include <gtest/gtest.h>

#include <string>

#include "FakeTickSource.h"
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
         "-224,\"Illegal parameter value; not ON, OFF, 1 or 0: MAYBE\";"
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

}  // namespace
