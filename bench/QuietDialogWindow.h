#pragma once

#include <cstdio>

#include "IDialogWindow.h"

// A window for the benchmarks: it shows nothing, but message boxes, which
// mean a measurement went wrong, go to stderr.
class QuietDialogWindow : public IDialogWindow {
public:
    void SetDlgItemText(int, const char*) override {}
    int GetDlgItemText(int, char* buffer, int) override { return static_cast<int>(*buffer = 0); }
    void SetDlgItemInt(int, int, bool) override {}
    void AddListString(int, const char*) override {}
    void SetListSelection(int, int) override {}
    int GetListSelection(int) override { return 0; }
    void SetScrollRange(int, int) override {}
    void SetScrollPos(int) override {}
    void MessageBox(const char* text) override { std::fprintf(stderr, "%s\n", text); }
    void LogFailure(const char* line) override { std::fprintf(stderr, "%s\n", line); }
    int RunModal() override { return 0; }
    void EndDialog(int) override {}
};
