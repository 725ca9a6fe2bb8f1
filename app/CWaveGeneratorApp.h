#pragma once

// The application: it shows the one dialog modally as its main window and
// ends when the dialog closes. Exactly one object exists, theApp.
class CWaveGeneratorApp {
public:
    // The entry routine: sets up the toolkit, runs InitInstance and returns
    // the process's exit status.
    int Run(int argc, char** argv);
    bool InitInstance();
    // The default help handler: there is no help content of our own.
    void OnHelp();

private:
    int m_status = 0;  // the exit status, 1 when the window could not run
};

extern CWaveGeneratorApp theApp;
