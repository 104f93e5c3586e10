#pragma once

// An application and its main window created inside the test process, and
// a way to let them run until the message queue is empty.

#include "application.h"
#include "main_window.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace quellan::test {

// Lets queued messages be handled for forMs; as the program's loop does
// (the main window's keyboard navigation first) when mainWindow is given.
void pumpMessages(DWORD forMs = 0, Window* mainWindow = nullptr);

struct FormUnderTest {
    FormUnderTest();
    Application application;
    TForm1 form;

    HWND window() const { return form.handle(); }
    HWND item(int id) const { return GetDlgItem(form.handle(), id); }
    std::string text(int id) const;
    RECT boundsInClient(int id) const;
    // Shows the form as at start-up and lets it initialise.
    void show();
    // Lets the form handle what is queued as the program's loop does:
    // keyboard navigation first, then dispatch.
    void runLoop(DWORD forMs = 0);
    // Presses and releases key in the focused control, Shift held or not.
    void pressKey(WPARAM key, bool shift = false);
    // The option button that is checked (its row), 0 for none.
    int checkedRow() const;
};

// Tests of the shown and initialised form.
class ShownForm : public ::testing::Test {
protected:
    void SetUp() override { ui.show(); }
    FormUnderTest ui;
};

// Runs on a second thread while the test thread sits in a modal box: finds
// this process's box captioned "Quellan", hands it to inspect, then presses
// OK. Keeps what inspect saw for the test thread.
class MessageBoxWatcher {
public:
    explicit MessageBoxWatcher(std::function<void(HWND box)> inspect);
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
    ~MessageBoxWatcher();
    bool sawBox() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

std::string windowText(HWND window);

} // namespace quellan::test
