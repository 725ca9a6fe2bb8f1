#pragma once

#include <functional>
#include <string>

#include "IDialogWindow.h"

// The dialog's window without a screen, for the command-line tool and the
// instrument server: the frequency box and the list selection are set by
// the caller, and the status line is kept for the caller. Message boxes and
// failure lines go to stderr (as "wavegen-render: ..." for a failure)
// unless the caller takes them.
class ConsoleDialogWindow : public IDialogWindow {
public:
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

    std::string m_frequencyText;
    std::string m_statusText;
    int m_selection = 0;
    std::function<void(const char* text)> m_onMessage;
    std::function<void(const char* line)> m_onFailure;
};

// Writes text to stderr, followed by a newline unless it ends with one.
void PrintLine(const std::string& text);
