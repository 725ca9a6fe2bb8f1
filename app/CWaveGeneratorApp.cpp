#include "CWaveGeneratorApp.h"

#include <QApplication>
#include <QTimer>
#include <clocale>
#include <functional>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "MonotonicTickSource.h"
#include "QtDialogWindow.h"
#include "ResourceIds.h"
#include "StopSignals.h"

CWaveGeneratorApp theApp;

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
    // A stop signal is the Exit command, given once no message box is open
    // (a box's handler finishes first, so nothing starts after the exit).
    std::function<void()> exitWhenNoBox = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != &window) {
            modal->close();
            QTimer::singleShot(0, &window, exitWhenNoBox);
            return;
        }
        dialog.OnCommand(IDCANCEL);
    };
    const StopSignals stopSignals(exitWhenNoBox);
    dialog.DoModal();
    return false;
}

void CWaveGeneratorApp::OnHelp() {}
