#pragma once

#include <string>
#include <string_view>

// Text made safe for where the web pages put it: every value they show
// may be a user's (DISPlay:TEXT, an arbitrary waveform's name), so none
// reaches a page unescaped.
class MarkupText {
public:
    // For HTML and XML text and attribute values: & < > " ' as entities.
    static std::string Escaped(std::string_view text);
    // A JSON string, quotes included; "<" and ">" as \u escapes, so that the
    // string cannot end a script element it is put in.
    static std::string Json(std::string_view text);
};
