#include "CWaveGeneratorApp.h"

#include <unistd.h>
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <clocale>
#include <cstdint>
#include <functional>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "MonotonicTickSource.h"
#include "QtDialogWindow.h"
#include "ResourceIds.h"
#include "StopSignals.h"

CWaveGeneratorApp theApp;

namespace {

// How soon a stop signal is tried again while an open is under way.
constexpr int kRetryMs = 10;

}  // namespace

int CWaveGeneratorApp::Run(int argc, char** argv)
{
    StopSignals::Block();
    QApplication application(argc, argv);
    // Qt has set LC_NUMERIC from the environment; the C library's number
    // formatting must not follow a desktop's locale.
    std::setlocale(LC_NUMERIC, "C");
    InitInstance();
    return 0;
}

bool CWaveGeneratorApp::InitInstance()
{
    // The window outlives a sound server restart: a lost device is reopened.
    AlsaWaveOut waveOut("default", AlsaWaveOut::OnLoss::Reopen);
    MonotonicTickSource ticks;
    QtDialogWindow window;
    CWaveGeneratorDialog dialog(window, waveOut, ticks);
    window.Attach(&dialog);
    window.m_onHelp = [this] { OnHelp(); };
    waveOut.m_waitForOpen = [&window](int fd, int timeoutMs) { window.WaitFor(fd, timeoutMs); };
    // A stop signal is the Exit command, given once no message box is open
    // (a box's handler finishes first, so nothing starts after the exit).
    std::function<void()> exitWhenNoBox = [&] {
        if (window.Waiting()) {
            QTimer::singleShot(kRetryMs, &window, exitWhenNoBox);
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != &window) {
            modal->close();
            QTimer::singleShot(0, &window, exitWhenNoBox);
            return;
        }
        dialog.OnCommand(IDCANCEL);
    };
    const StopSignals stopSignals(exitWhenNoBox);
    // The output's own changes (lost, back again) reach the dialog here.
    QSocketNotifier outputChanges(waveOut.ChangeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&outputChanges, &QSocketNotifier::activated, [&] {
        std::uint64_t changes = 0;
        [[maybe_unused]] const ssize_t drained =
            read(waveOut.ChangeDescriptor(), &changes, sizeof changes);
        dialog.OnOutputChange();
    });
    dialog.DoModal();
    return false;
}

void CWaveGeneratorApp::OnHelp() {}
