// The web pages' state: read from the instrument without touching it, the
// sentence and picture of what plays, and text made safe for the pages.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "FakeTickSource.h"
#include "MarkupText.h"
#include "RecordingWaveOut.h"
#include "ScpiInstrument.h"
#include "WebPanel.h"

namespace {

struct Fixture {
    std::vector<std::string> log;
    RecordingWaveOut device{log};
    FakeTickSource ticks;
    ScpiInstrument instrument{device, ticks};
    WebPanel panel{instrument,
                   {"wavegen", "wavegen-scpi", "0", "1.0.0", "test"},
                   {"host",
                    {{"lo", "127.0.0.1", "255.0.0.0", "00:00:00:00:00:00", "0.0.0.0"}},
                    5025,
                    8080,
                    false}};
};

// Reading the state is queries only: whatever the shape, on or off, it
// queues no error and changes no setting a client reads back.
TEST(WebState, readingItQueuesNothingAndChangesNothing)
{
    Fixture f;
    f.instrument.Execute("DATA:ARB:DAC WAVE,0,32767,0,-32767;FUNC:ARB WAVE");
    for (const char* function :
         {"SIN", "TRI", "SQU", "PULS", "NOIS", "HNO", "SWE", "RAMP", "ARB"}) {
        for (const char* output : {"OFF", "ON"}) {
            f.instrument.Execute(std::string("FREQ 100;FUNC ") + function + ";:OUTP " + output);
            const std::string before = f.instrument.Execute("APPL?;:SOUR2:APPL?");
            f.panel.State(false);
            EXPECT_EQ(f.instrument.Execute("SYST:ERR:COUN?"), "0") << function << " " << output;
            EXPECT_EQ(f.instrument.Execute("APPL?;:SOUR2:APPL?"), before) << function;
        }
    }
}

TEST(WebState, sentenceSaysWhatPlaysAndWhenTheDeviceIsLost)
{
    Fixture f;
    f.instrument.Execute("FUNC SQU;FUNC:SQU:DCYC 20;FREQ 1000;VOLT 1");
    EXPECT_EQ(WebPanel::Sentence(f.panel.Channel(1)),
              "Channel 1 is off; it is set to a square wave of 20 % duty cycle at 1000 Hz, 1 Vpp.");
    f.instrument.Execute("OUTP ON");
    EXPECT_EQ(WebPanel::Sentence(f.panel.Channel(1)),
              "Channel 1 plays a square wave of 20 % duty cycle at 1000 Hz, 1 Vpp.");
    f.device.LoseLast();
    f.instrument.OnOutputChange();
    const WebPanel::ChannelView lost = f.panel.Channel(1);
    EXPECT_TRUE(lost.lost);
    EXPECT_EQ(WebPanel::Sentence(lost),
              "Channel 1 is on but silent: the sound device is lost. Its square wave of 20 % "
              "duty cycle at 1000 Hz, 1 Vpp plays again once the device is back.");
    EXPECT_NE(f.panel.State(false).find("\"lost\":true"), std::string::npos);
}

// The picture: silence is a flat line; a loop longer than the picture is
// drawn by each column's lowest and highest sample, so a one-sample spike
// survives; three periods are shown.
TEST(WebState, pictureKeepsEveryPeakOfAFewPeriods)
{
    EXPECT_EQ(WebPanel::Picture({}, 1000.0), "M0 64 H600");
    std::vector<std::int16_t> loop(48000, 0);
    loop[7] = 32767;  // (one sample in the first of 48 periods of 1000 samples)
    loop[1007] = -32768;
    const std::string path = WebPanel::Picture(loop, 48.0);
    std::set<int> heights;
    std::size_t points = 0;
    for (std::size_t at = path.find(' '); at != std::string::npos; at = path.find(' ', at + 1)) {
        if (path[at - 1] >= '0' && path[at - 1] <= '9' && path[at + 1] >= '0' &&
            path[at + 1] <= '9') {
            heights.insert(std::stoi(path.substr(at + 1)));
            ++points;
        }
    }
    EXPECT_EQ(heights, (std::set<int>{2, 64, 126}));
    EXPECT_EQ(points, 600u);  // (300 columns of 3000 samples, two points each)
}

TEST(WebState, markupAndJsonTextCannotBreakOut)
{
    const struct {
        const char* text;
        const char* escaped;
        const char* json;
    } cases[] = {
        {"<script>alert('x')</script>", "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;",
         "\"\\u003cscript\\u003ealert('x')\\u003c/script\\u003e\""},
        {"a \"b\" & c\\", "a &quot;b&quot; &amp; c\\", "\"a \\\"b\\\" \\u0026 c\\\\\""},
        {"line\nbreak\x01", "line\nbreak\x01", "\"line\\u000abreak\\u0001\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MarkupText::Escaped(c.text), c.escaped);
        EXPECT_EQ(MarkupText::Json(c.text), c.json);
    }
}

}  // namespace
