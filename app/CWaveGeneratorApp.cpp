#include "CWaveGeneratorApp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "EventCounter.h"
#include "MonotonicTickSource.h"
#include "QtDialogWindow.h"
#include "StopSignals.h"

CWaveGeneratorApp theApp;

namespace {

// Without a display the toolkit would abort with advice to reinstall; say
// what is missing instead. A platform chosen by name (offscreen, vnc) needs none.
bool HasDisplay()
{
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

int CWaveGeneratorApp::Run(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fputs(
            "wavegen: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): start it "
            "in a desktop session, or use wavegen-render to write or play a waveform\n",
            stderr);
        return 1;
    }
    StopSignals::Block();
    QApplication application(argc, argv);
    // Docks and task bars find the desktop entry by this (the Wayland app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wavegen.wavegen"));
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
    waveOut.m_waitForOpen = [&window](int fd, int timeoutMs) {
        return window.WaitFor(fd, timeoutMs);
    };
    const StopSignals stopSignals([&window] { window.ExitWhenIdle(); });
    // The output's own changes (lost, back again) reach the dialog here.
    QSocketNotifier outputChanges(waveOut.ChangeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&outputChanges, &QSocketNotifier::activated, [&] {
        ClearEvent(waveOut.ChangeDescriptor());
        dialog.OnOutputChange();
    });
    dialog.DoModal();
    return false;
}

void CWaveGeneratorApp::OnHelp() {}
