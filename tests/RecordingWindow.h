#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CWaveGeneratorDialog.h"
#include "IDialogWindow.h"
#include "ResourceIds.h"

// A window that records every operation into a shared log and keeps the
// controls' state, so tests can check both the order of events and the face.
class RecordingWindow : public IDialogWindow {
public:
    explicit RecordingWindow(std::vector<std::string>& log) : m_log(log) {}

    void SetDlgItemText(int id, const char* text) override
    {
        m_texts[id] = text;
        m_log.push_back("text " + std::to_string(id) + " " + text);
    }

    int GetDlgItemText(int id, char* buffer, int maxCount) override
    {
        const std::string& text = m_texts[id];
        const std::size_t length = std::min(text.size(), static_cast<std::size_t>(maxCount - 1));
        text.copy(buffer, length);
        buffer[length] = '\0';
        return static_cast<int>(length);
    }

    void SetDlgItemInt(int id, int value, bool isSigned) override
    {
        m_texts[id] = std::to_string(value);
        m_log.push_back("int " + std::to_string(id) + " " + std::to_string(value) +
                        (isSigned ? "" : " unsigned"));
    }

    void AddListString(int, const char* text) override { m_items.push_back(text); }
    void SetListSelection(int, int position) override { m_selection = position; }
    int GetListSelection(int) override { return m_selection; }

    void SetScrollRange(int minimum, int maximum) override
    {
        m_scrollMin = minimum;
        m_scrollMax = maximum;
    }

    void SetScrollPos(int position) override
    {
        m_scrollPos = position;
        m_log.push_back("thumb " + std::to_string(position));
    }

    void MessageBox(const char* text) override
    {
        m_boxes.push_back(text);
        m_log.push_back(std::string("box ") + text);
        if (m_onMessageBox) {
            m_onMessageBox();
        }
    }

    void LogFailure(const char* line) override { m_log.push_back(std::string("failure ") + line); }

    int RunModal() override
    {
        m_dialog->OnInitDialog();
        if (m_whileRunning) {
            m_whileRunning();
        }
        return m_endResult;
    }

    void EndDialog(int result) override
    {
        m_endResult = result;
        m_log.push_back("end " + std::to_string(result));
    }

    std::string Text(int id) { return m_texts[id]; }

    std::vector<std::string>& m_log;
    std::map<int, std::string> m_texts;
    std::vector<std::string> m_items;
    std::vector<std::string> m_boxes;
    int m_selection = LB_ERR;
    int m_scrollMin = 0;
    int m_scrollMax = 0;
    int m_scrollPos = 0;
    int m_endResult = -1;
    CWaveGeneratorDialog* m_dialog = nullptr;
    std::function<void()> m_whileRunning;
    std::function<void()> m_onMessageBox;
};
