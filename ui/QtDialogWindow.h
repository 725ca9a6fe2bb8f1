#pragma once

#include <QDialog>
#include <QList>
#include <functional>

#include "IDialogWindow.h"
#include "StatusLine.h"

class CWaveGeneratorDialog;
class QLabel;
class QLineEdit;
class QEventLoop;
class QListWidget;
class QPushButton;
class MessageSheet;
class WindowScrollBar;

// The dialog template rendered with Qt Widgets. It holds no generator logic:
// it forwards every user action to the dialog's handlers and carries out
// the window operations they call.
class QtDialogWindow : public QDialog, public IDialogWindow {
public:
    explicit QtDialogWindow(QWidget* parent = nullptr);

    // The handlers that receive this window's events.
    void Attach(CWaveGeneratorDialog* dialog) { m_dialog = dialog; }
    // Called for a help request (F1).
    std::function<void()> m_onHelp;

    void SetDlgItemText(int id, const char* text) override;
    int GetDlgItemText(int id, char* buffer, int maxCount) override;
    void SetDlgItemInt(int id, int value, bool isSigned) override;
    void AddListString(int id, const char* text) override;
    void SetListSelection(int id, int position) override;
    int GetListSelection(int id) override;
    void SetScrollRange(int minimum, int maximum) override;
    void SetScrollPos(int position) override;
    void MessageBox(const char* text) override;
    void LogFailure(const char* line) override;
    int RunModal() override;
    void EndDialog(int result) override;

    // Waits until fd turns readable or timeoutMs pass, repainting meanwhile
    // and showing a busy cursor. Only Stop, Exit, Esc, the close box and a
    // stop signal are taken meanwhile: they give the wait up (false) and
    // are carried out as soon as the waiting command has returned. Any
    // other input is dropped: the command that waits has not had its answer.
    bool WaitFor(int fd, int timeoutMs);
    bool Waiting() const { return m_waitLoop != nullptr; }
    // A stop signal's Exit: once no open is waiting and no message box is
    // up. A box is closed, and the command that showed it is abandoned, so
    // that nothing starts to play on the way out.
    void ExitWhenIdle();

    // Esc arrives here: it is the Exit command, not a bare close.
    void reject() override;

    QPushButton* StartButton() const { return m_start; }
    QPushButton* StopButton() const { return m_stop; }
    QPushButton* ExitButton() const { return m_exit; }
    QListWidget* WaveformList() const { return m_list; }
    QLineEdit* FrequencyBox() const { return m_frequency; }
    QLabel* StatusText() const { return m_status; }
    WindowScrollBar* ScrollBar() const { return m_scrollBar; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool BoxShowing() const;
    void CloseBoxThen(std::function<void()> then);
    void BuildTemplate();
    QRect FromDialogUnits(int left, int top, int width, int height) const;
    template <typename Control>
    Control* AddControl(Control* control, int left, int top, int width, int height);

public:
    // The children in the order a screen reader walks them: the template's
    // (the stacking runs the other way, so that Start is on top).
    const QList<QWidget*>& ReadingOrder() const { return m_readingOrder; }

private:
    QList<QWidget*> m_readingOrder;
    void Command(int id);
    // Ends the wait for an open, then runs `then` once the command that
    // waited has returned.
    void GiveUpWaiting(std::function<void()> then);
    bool TakesInputWhileWaiting(QObject* receiver, QEvent* event) const;
    void OnScrollAction(int action);
    void OnScrollReleased();
    void OnThumbPosition(int position);
    void CentreOnScreen();

    CWaveGeneratorDialog* m_dialog = nullptr;
    QEventLoop* m_waitLoop = nullptr;     // while an open waits
    MessageSheet* m_openSheet = nullptr;  // while a box shows inside the window
    bool m_waitGivenUp = false;
    int m_baseUnitX = 0;
    int m_baseUnitY = 0;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_exit = nullptr;
    QListWidget* m_list = nullptr;
    QLineEdit* m_frequency = nullptr;
    StatusLine* m_status = nullptr;
    WindowScrollBar* m_scrollBar = nullptr;
    int m_top = 0;    // the height of a title bar drawn by the window itself
    int m_thumb = 0;  // where the handlers last put the thumb
    bool m_centreOnFrame = false;
};
