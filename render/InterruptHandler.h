#pragma once

// SIGINT, SIGTERM and SIGHUP for wavegen-render. Until the endless play
// takes them over, a signal ends the tool at once, in any phase (computing,
// waiting for a pipe's reader, writing, playing): it first removes the
// named temporary file, if any (an unnamed one goes with the process), then
// dies by the same signal, so that a calling shell or loop sees the signal. During the endless play
// a signal is handed to the play loop instead, through a pipe it can poll.
class InterruptHandler {
public:
    // Installs the handlers. False (and errno) when that failed.
    static bool Install();
    // The file to remove on a signal; nullptr for none. The path is copied.
    static void RemoveOnSignal(const char* path);
    // From now on signals reach Descriptor() instead of ending the tool.
    static void HandOver();
    // Readable once a handed-over signal arrived.
    static int Descriptor();
    // The handed-over signal, or 0.
    static int Caught();
    // Ends the process by `signal`, with its default action, as if the
    // handler had never been installed.
    [[noreturn]] static void EndBy(int signal);
};
