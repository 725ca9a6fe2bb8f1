#pragma once

// The few window operations the dialog's handlers use. The Qt window, the
// command-line tool and the tests' recording fake each provide them.
class IDialogWindow {
public:
    virtual ~IDialogWindow() = default;

    // Replaces the text of a control.
    virtual void SetDlgItemText(int id, const char* text) = 0;
    // Copies at most maxCount - 1 bytes of a control's text (UTF-8) and a
    // terminating zero into buffer; returns the bytes copied.
    virtual int GetDlgItemText(int id, char* buffer, int maxCount) = 0;
    // Sets a control's text to the value as a decimal integer.
    virtual void SetDlgItemInt(int id, int value, bool isSigned) = 0;

    virtual void AddListString(int id, const char* text) = 0;
    virtual void SetListSelection(int id, int position) = 0;
    // The selected position, or LB_ERR when nothing is selected.
    virtual int GetListSelection(int id) = 0;

    // The window's own horizontal scroll bar.
    virtual void SetScrollRange(int minimum, int maximum) = 0;
    virtual void SetScrollPos(int position) = 0;

    // A modal box owned by the window: the text, one OK button, no icon, the
    // application's name as caption. Returns once the user has closed it.
    virtual void MessageBox(const char* text) = 0;

    // Writes one line that says what failed, where the user's log is (the
    // standard error, which a desktop keeps in its journal).
    virtual void LogFailure(const char* line) = 0;

    // Runs the window modally: it calls the dialog's OnInitDialog before it
    // shows itself, and returns the result given to EndDialog.
    virtual int RunModal() = 0;
    virtual void EndDialog(int result) = 0;
};
