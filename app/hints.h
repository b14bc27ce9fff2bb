#pragma once

#include <QString>

// The help texts of the hint line, one per mouse-move handler, keyed by the handler's
// control ("Button1" for Button1MouseMove).
namespace Hints {
QString text(const char *control);
QString blinkRate(int position); // shown whenever the hidden blink-rate bar moves
} // namespace Hints

// Every control with a mouse-move handler of its own. Edit9's handler also serves Edit20 and
// Edit21, Edit6's also Edit22.
// clang-format off
#define TARVIK2_HINTED_CONTROLS(X)                                                             \
    X(Button1) X(Button2) X(Button3) X(Button4) X(Button6) X(Button8) X(Memo1) X(Edit1)       \
    X(Edit2) X(Edit3) X(Edit5) X(Edit6) X(Edit7) X(Edit8) X(Edit9) X(Edit10) X(Edit11)        \
    X(Edit12) X(Edit13) X(CheckBox1) X(CheckBox2) X(CheckBox3) X(CheckBox4) X(CheckBox5)      \
    X(CheckBox6) X(CheckBox7) X(CheckBox8) X(CheckBox9) X(CheckBox10) X(CheckBox11)          \
    X(CheckBox12)
// clang-format on
