// The Qt window driven as a person would, headless, over the recording
// wave output (and, for one case, the real sound server).
#include <sys/eventfd.h>
#include <unistd.h>
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <memory>

#include "AlsaWaveOut.h"
#include "CWaveGeneratorDialog.h"
#include "FakeTickSource.h"
#include "FrequencyScale.h"
#include "MessageSheet.h"
#include "MonitorRecorder.h"
#include "QtDialogWindow.h"
#include "RecordingWaveOut.h"
#include "ResourceIds.h"
#include "SoundServer.h"
#include "WaylandTitleBar.h"
#include "WindowScrollBar.h"

namespace {

// Closes every message box as soon as it is shown, noting its caption and text.
class BoxCatcher : public QObject {
public:
    BoxCatcher() { QApplication::instance()->installEventFilter(this); }
    ~BoxCatcher() override { QApplication::instance()->removeEventFilter(this); }

    // What to do with a box once it shows; by default its OK is clicked.
    std::function<void(QMessageBox*)> m_onShow;
    QStringList m_captions;
    QStringList m_texts;
    QList<QMessageBox::Icon> m_icons;
    QList<qsizetype> m_buttons;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box != nullptr && event->type() == QEvent::Show) {
            m_captions << box->windowTitle();
            m_texts << box->text();
            m_icons << box->icon();
            m_buttons << box->buttons().size();
            // Once the box's own loop runs.
            QMetaObject::invokeMethod(
                box,
                [this, box] {
                    if (m_onShow) {
                        m_onShow(box);
                    } else {
                        box->button(QMessageBox::Ok)->click();
                    }
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    PaintCounter(QWidget* widget, int& count) : m_count(count) { widget->installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        m_count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }

private:
    int& m_count;
};

QPoint ScrollBarPoint(QScrollBar* bar, QStyle::SubControl part)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void face_afterStartUp();
    void template_geometryAndStyle();
    void start_byClick();
    void start_byEnterInTheBoxAndInTheList();
    void listChoice_doesNothingUntilStart();
    void stop_silencesAndShowsStopped();
    void exitRoutes_endTheDialogWithTheDeviceClosed_data();
    void exitRoutes_endTheDialogWithTheDeviceClosed();
    void slider_arrowsAndPagesRestartWhereTheHandlerSays();
    void slider_dragTracksAndReleaseRestarts();
    void slider_wheelAndMenu_keepBoxThumbAndSoundInStep_data();
    void slider_wheelAndMenu_keepBoxThumbAndSoundInStep();
    void refusal_showsABoxWithTheApplicationsName();
    void tab_walksTheFiveStopsInTemplateOrder();
    void f1_reachesTheHelpHandlerAndNothingElse();
    void frequencyBox_readsUtf8AndTheLocaleDoesNotMatter();
    void realSoundServer_startPlaysUntilExit();
    void hungSoundServer_stopOpenAndExitNeverFreezeTheWindow();
    void openWait_onlyStopAndExitAct_data();
    void openWait_onlyStopAndExitAct();
    void hungSoundServer_restartDuringTheWait_leavesNothingPlaying();
    void screenReader_namesEveryControlInTemplateOrder();
    void duringABox_onlyTheBoxAnswers_data();
    void duringABox_onlyTheBoxAnswers();
    void ownTitleBar_followsActivationWithACleanEdge();
    void messageSheet_centredOverItsWindowAndModal();

private:
    void ShowActive();
    void TypeFrequency(const QString& text);

    std::vector<std::string> m_log;
    std::unique_ptr<RecordingWaveOut> m_waveOut;
    FakeTickSource m_ticks;
    std::unique_ptr<QtDialogWindow> m_window;
    std::unique_ptr<CWaveGeneratorDialog> m_dialog;
};

void WindowTest::init()
{
    m_log.clear();
    m_waveOut = std::make_unique<RecordingWaveOut>(m_log);
    m_window = std::make_unique<QtDialogWindow>();
    m_dialog = std::make_unique<CWaveGeneratorDialog>(*m_window, *m_waveOut, m_ticks);
    m_window->Attach(m_dialog.get());
}

void WindowTest::cleanup()
{
    m_dialog.reset();
    m_window.reset();
}

void WindowTest::ShowActive()
{
    m_dialog->OnInitDialog();
    m_window->StartButton()->setFocus();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

void WindowTest::TypeFrequency(const QString& text)
{
    m_window->FrequencyBox()->setFocus();
    m_window->FrequencyBox()->selectAll();
    QTest::keyClicks(m_window->FrequencyBox(), text);
}

void WindowTest::face_afterStartUp()
{
    ShowActive();
    QListWidget* list = m_window->WaveformList();
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->item(i)->text();
    }
    QCOMPARE(items,
             QStringList({"1) Sine", "2) Triangle", "3) Square", "4) 1:100 pulse", "5) White noise",
                          "6) 1/100 sampling rate White noise", "7) 1/3-5/3*f Sweeping sine"}));
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(list->item(0)->isSelected());
    QCOMPARE(m_window->FrequencyBox()->text(), QString("500.000"));
    QCOMPARE(m_window->ScrollBar()->value(), 1751);
    QCOMPARE(m_window->ScrollBar()->minimum(), 0);
    QCOMPARE(m_window->ScrollBar()->maximum(), 10000);
    QCOMPARE(m_window->StatusText()->text(), QString());
    QCOMPARE(QApplication::focusWidget(), m_window->StartButton());
    QVERIFY(m_window->StartButton()->isDefault());
    QCOMPARE(m_waveOut->m_openDevices, 0);
    QVERIFY(m_log.empty());
}

void WindowTest::template_geometryAndStyle()
{
    ShowActive();
    QCOMPARE(m_window->windowTitle(), QString("Tavel physics lab: Wave generator"));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_window->font().pointSize(), 9);
    QVERIFY(!m_window->windowIcon().isNull());
    QCOMPARE(m_window->windowIcon().availableSizes().size(), 2);

    // Dialog units from the font: 218 x 192 units, controls where the
    // template puts them, the window's bar along the bottom.
    const QFontMetrics metrics(m_window->font());
    const int baseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 +
         1) /
        2;
    const int baseY = metrics.height();
    QCOMPARE(m_window->width(), (218 * baseX + 2) / 4);
    QCOMPARE(m_window->height(), (192 * baseY + 4) / 8);
    QCOMPARE(m_window->StartButton()->geometry(),
             QRect((7 * baseX + 2) / 4, (84 * baseY + 4) / 8, (50 * baseX + 2) / 4,
                   (14 * baseY + 4) / 8));
    QCOMPARE(m_window->FrequencyBox()->geometry().topLeft(),
             QPoint((84 * baseX + 2) / 4, (167 * baseY + 4) / 8));
    QCOMPARE(m_window->ScrollBar()->geometry().bottom(), m_window->height() - 1);
    QCOMPARE(m_window->ScrollBar()->width(), m_window->width());
    QVERIFY(m_window->StatusText()->wordWrap());
    QCOMPARE(m_window->findChildren<QGroupBox*>().size(), 2);

    // The first control of the template is the topmost, so no group box
    // lies over the list and eats its clicks.
    const QPoint inList = m_window->WaveformList()->geometry().center();
    QCOMPARE(m_window->childAt(inList)->parentWidget(), m_window->WaveformList());

    for (QPushButton* button : m_window->findChildren<QPushButton*>()) {
        QVERIFY(!button->text().contains('&'));
    }
}

void WindowTest::start_byClick()
{
    ShowActive();
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    QCOMPARE(m_log, (std::vector<std::string>{"open", "prepare", "write"}));
    QCOMPARE(m_window->StatusText()->text(), QString("This is a sine wave, 500.000 Hz\n"));
    QCOMPARE(m_waveOut->m_openDevices, 1);
}

void WindowTest::start_byEnterInTheBoxAndInTheList()
{
    ShowActive();
    TypeFrequency("440");
    QTest::keyClick(m_window->FrequencyBox(), Qt::Key_Return);
    QCOMPARE(m_window->StatusText()->text(), QString("This is a sine wave, 440.000 Hz\n"));

    m_window->WaveformList()->setFocus();
    QTest::keyClick(m_window->WaveformList(), Qt::Key_Down);
    QTest::keyClick(m_window->WaveformList(), Qt::Key_Enter);
    QCOMPARE(m_window->StatusText()->text(), QString("This is a triangle wave, 440.000 Hz\n"));
    QCOMPARE(m_waveOut->m_openDevices, 1);
}

void WindowTest::listChoice_doesNothingUntilStart()
{
    ShowActive();
    QListWidget* list = m_window->WaveformList();
    const QRect third = list->visualItemRect(list->item(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, third.center());
    TypeFrequency("1000");
    QVERIFY(m_log.empty());
    QCOMPARE(m_dialog->m_waveform, 0);
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    QCOMPARE(m_window->StatusText()->text(),
             QString("This is a square wave, actual frequency is 1000.000 Hz\n"));
}

void WindowTest::stop_silencesAndShowsStopped()
{
    ShowActive();
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    m_log.clear();
    QTest::mouseClick(m_window->StopButton(), Qt::LeftButton);
    QTest::mouseClick(m_window->StopButton(), Qt::LeftButton);
    QCOMPARE(m_log, (std::vector<std::string>{"reset", "unprepare", "close"}));
    QCOMPARE(m_window->StatusText()->text(), QString("Stopped"));
    QCOMPARE(m_waveOut->m_openDevices, 0);
}

void WindowTest::exitRoutes_endTheDialogWithTheDeviceClosed_data()
{
    QTest::addColumn<int>("route");
    QTest::newRow("Exit button") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
    QTest::newRow("command 8") << 3;
}

void WindowTest::exitRoutes_endTheDialogWithTheDeviceClosed()
{
    QFETCH(int, route);
    QTimer::singleShot(0, m_window.get(), [&] {
        QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
        switch (route) {
        case 0:
            QTest::mouseClick(m_window->ExitButton(), Qt::LeftButton);
            break;
        case 1:
            QTest::keyClick(m_window.get(), Qt::Key_Escape);
            break;
        case 2:
            m_window->close();
            break;
        default:
            m_dialog->OnCommand(IDCLOSE);
        }
    });
    QCOMPARE(m_dialog->DoModal(), IDOK);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_waveOut->m_openDevices, 0);
    QCOMPARE(m_log.back(), std::string("close"));
    QCOMPARE(m_window->StatusText()->text(), QString("Stopped"));
}

void WindowTest::slider_arrowsAndPagesRestartWhereTheHandlerSays()
{
    ShowActive();
    WindowScrollBar* bar = m_window->ScrollBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPoint(bar, QStyle::SC_ScrollBarAddLine));
    QCOMPARE(m_window->FrequencyBox()->text(), QString("500.100"));
    QCOMPARE(bar->value(), 1751);  // not the 1752 that Qt would have stepped to
    QCOMPARE(m_log, (std::vector<std::string>{"open", "prepare", "write"}));

    m_ticks.m_now += 100;
    QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPoint(bar, QStyle::SC_ScrollBarAddLine));
    QCOMPARE(m_window->FrequencyBox()->text(), QString("501.100"));
    QCOMPARE(bar->value(), 1753);

    m_ticks.m_now += 1000;
    QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPoint(bar, QStyle::SC_ScrollBarAddPage));
    QCOMPARE(m_window->FrequencyBox()->text(), QString("511.100"));

    m_ticks.m_now += 1000;
    QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPoint(bar, QStyle::SC_ScrollBarSubLine));
    QCOMPARE(m_window->FrequencyBox()->text(), QString("511.000"));
    QCOMPARE(m_window->StatusText()->text(), QString("This is a sine wave, 511.000 Hz\n"));
    QCOMPARE(m_waveOut->m_openDevices, 1);
}

void WindowTest::slider_dragTracksAndReleaseRestarts()
{
    ShowActive();
    WindowScrollBar* bar = m_window->ScrollBar();
    const QPoint thumb = ScrollBarPoint(bar, QStyle::SC_ScrollBarSlider);
    QTest::mousePress(bar, Qt::LeftButton, {}, thumb);
    QTest::mouseMove(bar, thumb + QPoint(60, 0));
    const int tracked = bar->value();
    QVERIFY(tracked > 1751);
    const QString shown = m_window->FrequencyBox()->text();
    QCOMPARE(shown, QString::number(
                        FrequencyFromScrollPos(*m_dialog, static_cast<unsigned>(tracked)), 'f', 3));
    QVERIFY(m_log.empty());  // dragging does not restart

    QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb + QPoint(60, 0));
    QCOMPARE(m_log, (std::vector<std::string>{"open", "prepare", "write"}));
    QCOMPARE(bar->value(), tracked);
    QCOMPARE(m_window->StatusText()->text(), "This is a sine wave, " + shown + " Hz\n");
}

void WindowTest::slider_wheelAndMenu_keepBoxThumbAndSoundInStep_data()
{
    QTest::addColumn<QString>("entry");  // empty: the wheel
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("restarts");
    QTest::newRow("wheel") << QString() << "500.000" << false;
    QTest::newRow("left edge") << "Left edge"
                               << "500.000" << false;
    QTest::newRow("right edge") << "Right edge"
                                << "500.000" << false;
    QTest::newRow("page left") << "Page left"
                               << "490.000" << true;
    QTest::newRow("page right") << "Page right"
                                << "510.000" << true;
    QTest::newRow("scroll left") << "Scroll left"
                                 << "499.900" << true;
    QTest::newRow("scroll right") << "Scroll right"
                                  << "500.100" << true;
    QTest::newRow("scroll here") << "Scroll here" << QString() << true;
}

// Routes the native bar has no message for, or whose menu the toolkit
// would act on behind the handlers' back.
void WindowTest::slider_wheelAndMenu_keepBoxThumbAndSoundInStep()
{
    QFETCH(QString, entry);
    QFETCH(QString, box);
    QFETCH(bool, restarts);
    ShowActive();
    WindowScrollBar* bar = m_window->ScrollBar();
    const QPoint point(250, bar->height() / 2);
    if (entry.isEmpty()) {
        for (const QPoint delta :
             {QPoint(0, 120), QPoint(0, -120), QPoint(120, 0), QPoint(-120, 0)}) {
            for (const Qt::KeyboardModifiers modifiers :
                 {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
                  Qt::KeyboardModifiers(Qt::ControlModifier),
                  Qt::KeyboardModifiers(Qt::AltModifier)}) {
                for (QWidget* target :
                     {static_cast<QWidget*>(bar), static_cast<QWidget*>(m_window.get())}) {
                    QWheelEvent wheel(point, target->mapToGlobal(point), {}, delta, Qt::NoButton,
                                      modifiers, Qt::NoScrollPhase, false);
                    QApplication::sendEvent(target, &wheel);
                }
            }
        }
    } else {
        QTimer::singleShot(0, bar, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            for (QAction* action : menu->actions()) {
                if (action->text() == entry) {
                    menu->setActiveAction(action);
                }
            }
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, point, bar->mapToGlobal(point));
        QApplication::sendEvent(bar, &menuEvent);
    }
    const int thumb = ScrollPosFromFrequency(*m_dialog, m_dialog->m_frequency);
    QCOMPARE(bar->value(), thumb);
    if (box.isEmpty()) {  // "Scroll here": the box shows what the thumb stands for
        QVERIFY(thumb > 1751);
        box = QString::number(FrequencyFromScrollPos(*m_dialog, static_cast<unsigned>(thumb)), 'f',
                              3);
    }
    QCOMPARE(m_window->FrequencyBox()->text(), box);
    QCOMPARE(m_log.size(), restarts ? 3u : 0u);
    if (restarts) {
        QCOMPARE(m_window->StatusText()->text(), "This is a sine wave, " + box + " Hz\n");
    }
}

void WindowTest::refusal_showsABoxWithTheApplicationsName()
{
    ShowActive();
    BoxCatcher boxes;
    TypeFrequency("abc");
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    QCOMPARE(boxes.m_texts, QStringList({"Illegal frequency"}));
    QCOMPARE(boxes.m_captions, QStringList({QCoreApplication::applicationName()}));
    QCOMPARE(QCoreApplication::applicationName(),
             QFileInfo(QCoreApplication::applicationFilePath()).baseName());
    QCOMPARE(boxes.m_icons.front(), QMessageBox::NoIcon);
    QCOMPARE(boxes.m_buttons.front(), 1);

    // Two boxes in a row, their line breaks kept.
    m_waveOut->m_failOpen = true;
    TypeFrequency("500");
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    QCOMPARE(boxes.m_texts.mid(1),
             QStringList({"fail to open waveOutDevice\nMake sure that you use the same sampling "
                          "rate as the recording device\n",
                          "cannot open wave out device"}));
}

void WindowTest::tab_walksTheFiveStopsInTemplateOrder()
{
    ShowActive();
    const QList<QWidget*> expected = {m_window->WaveformList(), m_window->StopButton(),
                                      m_window->ExitButton(), m_window->FrequencyBox(),
                                      m_window->StartButton()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void WindowTest::f1_reachesTheHelpHandlerAndNothingElse()
{
    ShowActive();
    int helpRequests = 0;
    m_window->m_onHelp = [&] { ++helpRequests; };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QCOMPARE(helpRequests, 1);
    QVERIFY(m_log.empty());
    QVERIFY(m_window->isVisible());
}

void WindowTest::frequencyBox_readsUtf8AndTheLocaleDoesNotMatter()
{
    const bool german = qEnvironmentVariableIsSet("WAVEGEN_EXPECT_GERMAN");
    if (german) {
        // Qt took the German locale from the environment when it started;
        // put the C library's numbers in it too, as a careless start-up would.
        QCOMPARE(QLocale().decimalPoint(), QString(","));
        QVERIFY(std::setlocale(LC_NUMERIC, "") != nullptr);
        QCOMPARE(std::strtod("12.5", nullptr), 12.0);
    }
    ShowActive();
    TypeFrequency("12.5");
    QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    if (german) {
        std::setlocale(LC_NUMERIC, "C");
    }
    QCOMPARE(m_dialog->m_frequency, 12.5);
    QCOMPARE(m_window->StatusText()->text(), QString("This is a sine wave, 12.500 Hz\n"));

    char text[80];
    m_window->FrequencyBox()->setText(QString::fromUtf8("600\u00e4\u00e4"));
    QCOMPARE(m_window->GetDlgItemText(IDC_FREQUENCY, text, 80), 7);
    QCOMPARE(QByteArray(text), QByteArray("600\xc3\xa4\xc3\xa4"));
    QCOMPARE(m_window->GetDlgItemText(IDC_FREQUENCY, text, 5), 4);
}

void WindowTest::realSoundServer_startPlaysUntilExit()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        QSKIP("needs the private sound server (run through ctest)");
    }
    MonitorRecorder recorder;
    QVERIFY(recorder.Start());
    AlsaWaveOut alsa;
    QtDialogWindow window;
    CWaveGeneratorDialog dialog(window, alsa, m_ticks);
    window.Attach(&dialog);
    std::size_t heard = 0;
    QTimer::singleShot(0, &window, [&] {
        const std::size_t before = recorder.SampleCount();
        QTest::mouseClick(window.StartButton(), Qt::LeftButton);
        QVERIFY(dialog.m_waveOut != nullptr);
        recorder.WaitForSamples(before + 24000, std::chrono::seconds(5));
        const std::vector<std::int16_t> samples = recorder.Samples();
        for (std::size_t i = before; i < samples.size(); ++i) {
            heard += samples[i] != 0 ? 1u : 0u;
        }
        QTest::mouseClick(window.ExitButton(), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), IDOK);
    QVERIFY(heard > 4800);
    QVERIFY(dialog.m_waveOut == nullptr);
}

// The server is stopped (it takes connections and never answers): Stop and
// Exit return at once, and an open gives up after 2 s while the window
// goes on repainting.
void WindowTest::hungSoundServer_stopOpenAndExitNeverFreezeTheWindow()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        QSKIP("needs the private sound server (run through ctest)");
    }
    SoundServer server;
    QVERIFY(server.Start());
    AlsaWaveOut alsa("default", AlsaWaveOut::OnLoss::Reopen);
    QtDialogWindow window;
    alsa.m_waitForOpen = [&window](int fd, int timeoutMs) { return window.WaitFor(fd, timeoutMs); };
    CWaveGeneratorDialog dialog(window, alsa, m_ticks);
    window.Attach(&dialog);
    BoxCatcher boxes;
    int paints = 0;
    PaintCounter counter(&window, paints);
    QTimer repaint;
    connect(&repaint, &QTimer::timeout, &window, [&window] { window.update(); });
    QElapsedTimer took;
    const auto startPlaying = [&] {
        QTest::mouseClick(window.StartButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(IWaveOut::Status(dialog.m_waveOut).framesWritten > 0, 10000);
        server.Signal(SIGSTOP);
    };
    QTimer::singleShot(0, &window, [&] {
        startPlaying();
        took.start();
        QTest::mouseClick(window.StopButton(), Qt::LeftButton);
        QVERIFY2(took.elapsed() <= 100, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(window.StatusText()->text(), QString("Stopped"));

        repaint.start(50);
        paints = 0;
        took.start();
        QTest::mouseClick(window.StartButton(), Qt::LeftButton);
        QVERIFY2(took.elapsed() >= 1900 && took.elapsed() <= 3000,
                 qPrintable(QString::number(took.elapsed())));
        QVERIFY2(paints >= 10, qPrintable(QString::number(paints)));
        QCOMPARE(boxes.m_texts.size(), 2);
        QCOMPARE(boxes.m_texts[1], QString("cannot open wave out device"));
        repaint.stop();

        server.Signal(SIGCONT);
        startPlaying();
        took.start();
        QTest::keyClick(&window, Qt::Key_Escape);
    });
    QCOMPARE(dialog.DoModal(), IDOK);
    QVERIFY2(took.elapsed() <= 100, qPrintable(QString::number(took.elapsed())));
    server.Signal(SIGCONT);
}

void WindowTest::openWait_onlyStopAndExitAct_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("ends");
    for (const char* ending : {"Exit button", "Esc", "close box", "stop signal"}) {
        QTest::newRow(ending) << QString(ending) << true;
    }
    for (const char* ignored : {"Stop button", "Start button", "Enter", "slider track",
                                "slider handler", "list click", "Scroll here"}) {
        QTest::newRow(ignored) << QString(ignored) << false;
    }
}

// While an open waits, Stop, Exit, Esc, the close box and a stop signal
// give it up at once, with no box; every other route is dropped, so that
// no second open can start inside the first.
void WindowTest::openWait_onlyStopAndExitAct()
{
    QFETCH(QString, route);
    QFETCH(bool, ends);
    BoxCatcher boxes;
    int waits = 0;
    bool wasBusy = false;
    const int never = eventfd(0, EFD_CLOEXEC);  // the device never answers
    m_waveOut->m_waitInOpen = [&] {
        ++waits;
        return m_window->WaitFor(never, 60000);
    };
    WindowScrollBar* bar = m_window->ScrollBar();
    const QPoint track(bar->width() * 3 / 4, bar->height() / 2);
    const auto act = [&] {
        wasBusy = QApplication::overrideCursor() != nullptr &&
                  QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        if (route == "Exit button") {
            QTest::mouseClick(m_window->ExitButton(), Qt::LeftButton);
        } else if (route == "Esc") {
            QTest::keyClick(m_window->WaveformList(), Qt::Key_Escape);
        } else if (route == "close box") {
            m_window->close();
        } else if (route == "stop signal") {
            m_window->ExitWhenIdle();
        } else if (route == "Start button") {
            QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
        } else if (route == "Enter") {
            QTest::keyClick(m_window->FrequencyBox(), Qt::Key_Return);
        } else if (route == "slider track") {
            QTest::mouseClick(bar, Qt::LeftButton, {}, track);
        } else if (route == "slider handler") {  // a timer's or a screen reader's action
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        } else if (route == "list click") {
            QListWidget* list = m_window->WaveformList();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(2)).center());
        } else if (route == "Scroll here") {
            bar->m_onScrollHere(9000);
        }
        if (!ends) {
            QVERIFY(m_window->Waiting());
            QTest::mouseClick(m_window->StopButton(), Qt::LeftButton);
        }
    };
    QTimer::singleShot(0, m_window.get(), [&] {
        m_window->show();
        QTimer::singleShot(20, m_window.get(), act);
        QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
        QVERIFY(!m_window->Waiting());
        QCOMPARE(m_dialog->m_waveOut, nullptr);
        if (!ends) {
            // The Stop runs once the Start has returned.
            QTRY_COMPARE(m_window->StatusText()->text(), QString("Stopped"));
            QTest::mouseClick(m_window->ExitButton(), Qt::LeftButton);
        }
    });
    QCOMPARE(m_dialog->DoModal(), IDOK);
    QVERIFY(wasBusy);
    QCOMPARE(waits, 1);
    QCOMPARE(m_log, (std::vector<std::string>{"open"}));
    QCOMPARE(boxes.m_texts, QStringList());
    QCOMPARE(m_window->FrequencyBox()->text(), QString("500.000"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    close(never);
}

// The server hangs while a Start's open waits, and the slider restarts
// meanwhile (a timer's or a screen reader's action): when the server comes
// back, at most the one device that Stop closes has played.
void WindowTest::hungSoundServer_restartDuringTheWait_leavesNothingPlaying()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        QSKIP("needs the private sound server (run through ctest)");
    }
    SoundServer server;
    QVERIFY(server.Start());
    MonitorRecorder recorder;
    QVERIFY(recorder.Start());
    AlsaWaveOut alsa("default", AlsaWaveOut::OnLoss::Reopen);
    QtDialogWindow window;
    alsa.m_waitForOpen = [&window](int fd, int timeoutMs) { return window.WaitFor(fd, timeoutMs); };
    CWaveGeneratorDialog dialog(window, alsa, m_ticks);
    window.Attach(&dialog);
    BoxCatcher boxes;
    QTimer::singleShot(0, &window, [&] {
        QTest::mouseClick(window.StartButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(IWaveOut::Status(dialog.m_waveOut).framesWritten > 0, 10000);
        server.Signal(SIGSTOP);
        QTimer restarts;
        // (only during the wait: once it is over, a restart is a new Start
        // of the test's own making, with boxes of its own)
        connect(&restarts, &QTimer::timeout, &window, [&] {
            if (window.Waiting()) {
                window.ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
            }
        });
        restarts.start(100);
        QTest::mouseClick(window.ScrollBar(), Qt::LeftButton, {},
                          QPoint(window.ScrollBar()->width() * 3 / 4, 5));
        QTRY_VERIFY_WITH_TIMEOUT(!window.Waiting(), 10000);
        restarts.stop();
        server.Signal(SIGCONT);
        QTest::mouseClick(window.StopButton(), Qt::LeftButton);
        const std::size_t stopped = recorder.SampleCount();
        // Half a second of the sink after the stop (its latency aside).
        QVERIFY(recorder.WaitForSamples(stopped + 48000, std::chrono::seconds(10)));
        const std::vector<std::int16_t> samples = recorder.Samples();
        const auto heard = std::count_if(samples.begin() + static_cast<long>(stopped) + 4800,
                                         samples.end(), [](std::int16_t s) { return s != 0; });
        QCOMPARE(heard, 0);
        QTest::mouseClick(window.ExitButton(), Qt::LeftButton);
    });
    QCOMPARE(dialog.DoModal(), IDOK);
    QCOMPARE(boxes.m_texts.size(), 2);  // the one open that timed out
    server.Signal(SIGCONT);
}

// What a screen reader walks: every control named, in the template's order.
void WindowTest::screenReader_namesEveryControlInTemplateOrder()
{
    ShowActive();
    QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(m_window.get());
    QVERIFY(dialog != nullptr);
    QStringList walked;
    for (int i = 0; i < dialog->childCount(); ++i) {
        QAccessibleInterface* child = dialog->child(i);
        QCOMPARE(dialog->indexOfChild(child), i);
        if (child->object() == m_window->StatusText()) {  // named by what it says
            walked << child->text(QAccessible::Description);
        } else if (child->role() != QAccessible::Grouping) {  // the template's two frames
            walked << child->text(QAccessible::Name);
        }
    }
    QCOMPARE(walked,
             QStringList({"Start", "Select a wave to play", "Select a wave to play", "Stop", "Exit",
                          "Status", "Frequency in Hz", "Frequency in Hz", "Frequency slider"}));
    // Start is still on top of the stacking.
    QCOMPARE(m_window->childAt(m_window->StartButton()->geometry().center()),
             m_window->StartButton());
}

// A stop signal while a correction's box is up closes the box and ends the
// program; the interrupted Start never opens the device.
void WindowTest::duringABox_onlyTheBoxAnswers_data()
{
    QTest::addColumn<bool>("stopSignal");
    QTest::addColumn<int>("opens");
    QTest::newRow("a stop signal ends the dialog") << true << 0;
    // (as a screen reader's actions and timers reach it behind a modal box)
    QTest::newRow("slider, thumb and Start behind the box wait") << false << 1;
}

void WindowTest::duringABox_onlyTheBoxAnswers()
{
    QFETCH(bool, stopSignal);
    QFETCH(int, opens);
    BoxCatcher boxes;
    boxes.m_onShow = [&](QMessageBox* box) {
        if (stopSignal) {
            m_window->ExitWhenIdle();
            return;
        }
        m_window->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        m_window->ScrollBar()->m_onScrollHere(5000);
        m_window->StartButton()->click();
        box->button(QMessageBox::Ok)->click();
        QTimer::singleShot(0, m_window.get(), [this] { m_window->ExitWhenIdle(); });
    };
    QTimer::singleShot(0, m_window.get(), [this] {
        TypeFrequency(QStringLiteral("1e5"));
        QTest::mouseClick(m_window->StartButton(), Qt::LeftButton);
    });
    QCOMPARE(m_dialog->DoModal(), IDOK);
    QCOMPARE(boxes.m_texts, QStringList({"Frequency is too high; try less than 16000"}));
    QCOMPARE(std::count(m_log.begin(), m_log.end(), "open"), opens);
}

// The bar a window draws itself on a compositor that leaves it decorations:
// another window's activation greys it (the style's palette has one
// highlight for both states), and its bottom edge is one unbroken line.
void WindowTest::ownTitleBar_followsActivationWithACleanEdge()
{
    QWidget window;
    window.resize(300, 120);
    WaylandTitleBar::Attach(&window);
    QWidget other;
    other.resize(100, 100);
    const auto barPicture = [&] {
        return window.grab(QRect(0, 0, window.width(), WaylandTitleBar::kHeight)).toImage();
    };
    const auto edgeIsOneColour = [](const QImage& bar) {
        const int y = bar.height() - 1;
        for (int x = 1; x < bar.width(); ++x) {
            if (bar.pixel(x, y) != bar.pixel(0, y)) {
                return false;
            }
        }
        return true;
    };
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QImage active = barPicture();
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_VERIFY(!window.isActiveWindow());
    const QImage inactive = barPicture();
    const QPoint background(window.width() / 2, 4);
    QVERIFY(active.pixel(background) != inactive.pixel(background));
    QVERIFY(edgeIsOneColour(active));
    QVERIFY(edgeIsOneColour(inactive));
}

// Where the compositor places dialogs at random, a box shows inside its
// window: centred, within it, wrapped to fit, and the only thing that
// takes input until Enter, Esc or its close box ends it.
void WindowTest::messageSheet_centredOverItsWindowAndModal()
{
    QWidget window;
    window.resize(382, 363);
    auto* behind = new QPushButton(QStringLiteral("behind"), &window);
    behind->setGeometry(0, 0, window.width(), window.height());
    int behindClicks = 0;
    connect(behind, &QPushButton::clicked, [&] { ++behindClicks; });
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QString longLine = QStringLiteral(
        "Make sure that you use the same sampling rate as the "
        "recording device, and the same again");
    const std::function<void(QWidget*)> endings[] = {
        [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Return); },
        [](QWidget* box) { QTest::keyClick(box->focusWidget(), Qt::Key_Escape); },
        [](QWidget* box) { box->close(); },
    };
    for (const auto& end : endings) {
        MessageSheet sheet(&window);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto* box = window.findChild<QWidget*>(QStringLiteral("messageSheetBox"));
            QVERIFY(box != nullptr);
            QVERIFY(QRect(QPoint(), window.size()).contains(box->geometry()));
            QVERIFY(std::abs(box->geometry().center().x() - window.width() / 2) <= 1);
            QVERIFY(std::abs(box->geometry().center().y() - window.height() / 2) <= 1);
            QTest::mouseClick(behind, Qt::LeftButton, {}, QPoint(5, 5));
            QTest::keyClick(behind, Qt::Key_Space);
            checked = true;
            end(box);
        });
        sheet.Run(QStringLiteral("wavegen"), longLine);
        QVERIFY(checked);
    }
    QCOMPARE(behindClicks, 0);
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "WindowTest.moc"
