#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the GUI thread, so that a
// session's end or a kill stops the sound and closes the window the way
// Exit does. The signals are blocked in every thread and read from a
// signalfd, so no handler runs at all.
class StopSignals : public QObject {
public:
    // Blocks the signals; call it before any thread starts, so that every
    // thread inherits the mask.
    static void Block();

    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals() override;

private:
    std::function<void()> m_onStop;
    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
