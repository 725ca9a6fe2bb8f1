#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the GUI thread, so that a
// session's end or a kill stops the sound and closes the window the way
// Exit does. The handler only writes a byte into a socket pair.
class StopSignals : public QObject {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals() override;

private:
    static void Handle(int signal);

    std::function<void()> m_onStop;
    QSocketNotifier* m_notifier = nullptr;
};
