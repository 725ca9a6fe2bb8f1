#include "CWaveGeneratorApp.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QSocketNotifier>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

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

constexpr const char* kNoDisplayAdvice =
    "start it in a desktop session, or use wavegen-render to write or play a waveform";

// The display named in the environment, for the message when it cannot be
// reached.
std::string NamedDisplay()
{
    std::string named;
    for (const char* variable : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            named += (named.empty() ? "" : ", ") + std::string(variable) + "=" + value;
        }
    }
    return named;
}

QtMessageHandler g_toolkitHandler = nullptr;

// While the toolkit starts, a platform it cannot reach (a display that is
// not there) is fatal to it: it would abort with a core dump and advice to
// reinstall. Its warnings, which say what failed, are kept; the fatal end
// becomes our message and status 1.
void StartUpMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        g_toolkitHandler(type, context, text);
        return;
    }
    std::fprintf(stderr, "wavegen: cannot open the display (%s): %s\n", NamedDisplay().c_str(),
                 kNoDisplayAdvice);
    std::_Exit(1);
}

// Message boxes and the own title bar use the desktop's font. A system
// with no desktop's font settings and few fonts may resolve that to a
// fixed-pitch face (only the Liberation fonts: Liberation Mono); a
// proportional sans is asked for by name then.
void UseProportionalFont()
{
    if (!QFontInfo(QApplication::font()).fixedPitch()) {
        return;
    }
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Noto Sans"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);
}

}  // namespace

int CWaveGeneratorApp::Run(int argc, char** argv)
{
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "wavegen: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): %s\n",
                     kNoDisplayAdvice);
        return 1;
    }
    StopSignals::Block();
    g_toolkitHandler = qInstallMessageHandler(&StartUpMessages);
    QApplication application(argc, argv);
    qInstallMessageHandler(g_toolkitHandler);
    UseProportionalFont();
    // Docks and task bars find the desktop entry by this (the Wayland app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.wavegen.wavegen"));
    // Qt has set LC_NUMERIC from the environment; the C library's number
    // formatting must not follow a desktop's locale.
    std::setlocale(LC_NUMERIC, "C");
    InitInstance();
    return m_status;
}

bool CWaveGeneratorApp::InitInstance()
{
    // The window outlives a sound server restart: a lost device is reopened.
    AlsaWaveOut waveOut("default", AlsaWaveOut::OnLoss::Reopen);
    if (const std::string failure = waveOut.SetupFailure(); !failure.empty()) {
        std::fprintf(stderr, "wavegen: %s\n", failure.c_str());
        m_status = 1;
        return false;
    }
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
