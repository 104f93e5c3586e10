#pragma once

// Control identifiers of the main window, numbered in creation order. Also
// used by the tests that drive the window from outside.

namespace quellan::controls {

constexpr int Label1 = 100;
constexpr int Label2 = 101;
constexpr int Button1 = 102;
constexpr int Button2 = 103;
constexpr int StatusBar1 = 104;
constexpr int Button3 = 105;
constexpr int RadioButton1 = 106; // RadioButton1..RadioButton28 follow on
constexpr int CheckBox1 = 134;
constexpr int Edit1 = 135;
constexpr int Button4 = 136;
constexpr int RichEdit1 = 137;

constexpr int radioButton(int row)
{
    return RadioButton1 + row - 1;
}
constexpr bool isRadioButton(int id)
{
    return id >= RadioButton1 && id < RadioButton1 + 28;
}
constexpr int radioRow(int id)
{
    return id - RadioButton1 + 1;
}

} // namespace quellan::controls
