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
    AlsaWaveOut waveOut;
    MonotonicTickSource ticks;
    QtDialogWindow window;
    CWaveGeneratorDialog dialog(window, waveOut, ticks);
    window.Attach(&dialog);
    window.m_onHelp = [this] { OnHelp(); };
    m_pMainWnd = &window;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

void CWaveGeneratorApp::OnHelp() {}
