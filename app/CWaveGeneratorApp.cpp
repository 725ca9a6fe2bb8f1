#include "CWaveGeneratorApp.h"

#include <QApplication>
#include <clocale>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "MonotonicTickSource.h"
#include "QtDialogWindow.h"

CWaveGeneratorApp theApp;

int CWaveGeneratorApp::Run(int argc, char** argv)
{
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
    dialog.DoModal();
    return false;
}

void CWaveGeneratorApp::OnHelp() {}
