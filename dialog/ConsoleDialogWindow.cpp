#include "ConsoleDialogWindow.h"

#include <cstdio>
#include <string>

#include "ResourceIds.h"

void PrintLine(const std::string& text)
{
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stderr);
    }
}

void ConsoleDialogWindow::SetDlgItemText(int id, const char* text)
{
    if (id == IDC_FREQUENCY) {
        m_frequencyText = text;
    } else if (id == IDC_STATUS) {
        m_statusText = text;
    }
}

int ConsoleDialogWindow::GetDlgItemText(int id, char* buffer, int maxCount)
{
    const std::string& text = id == IDC_FREQUENCY ? m_frequencyText : m_statusText;
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(maxCount - 1));
    text.copy(buffer, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void ConsoleDialogWindow::SetDlgItemInt(int id, int value, bool)
{
    SetDlgItemText(id, std::to_string(value).c_str());
}

void ConsoleDialogWindow::AddListString(int, const char*) {}

void ConsoleDialogWindow::SetListSelection(int, int position)
{
    m_selection = position;
}

int ConsoleDialogWindow::GetListSelection(int)
{
    return m_selection;
}

void ConsoleDialogWindow::SetScrollRange(int, int) {}

void ConsoleDialogWindow::SetScrollPos(int) {}

void ConsoleDialogWindow::MessageBox(const char* text)
{
    if (m_onMessage) {
        m_onMessage(text);
    } else {
        PrintLine(text);
    }
}

void ConsoleDialogWindow::LogFailure(const char* line)
{
    if (m_onFailure) {
        m_onFailure(line);
    } else {
        PrintLine(std::string("wavegen-render: ") + line);
    }
}

int ConsoleDialogWindow::RunModal()
{
    return IDOK;
}

void ConsoleDialogWindow::EndDialog(int) {}
