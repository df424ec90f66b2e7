#pragma once

#include "tform1.h"
#include "tform2.h"
#include "tform3.h"
#include "tform4.h"
#include "tform5.h"
#include "wait_input_gate.h"

#include <memory>

// The five windows of the application, created once in this order and kept
// until the end: the main window, the progress window and the three dialogs.
struct WindowSet
{
    explicit WindowSet(ServerSettings server = ServerSettings::BuiltIn());
    ~WindowSet();

    std::unique_ptr<TForm1> Form1;
    std::unique_ptr<TForm5> Form5Holder; // a top-level window of its own
    std::unique_ptr<TForm2> Form2;
    std::unique_ptr<TForm3> Form3;
    std::unique_ptr<TForm4> Form4;
    TForm5* Form5 = nullptr;
    std::unique_ptr<WaitInputGate> InputGate;
};

// Application-wide set-up shared by the program and its GUI tests: fonts,
// title, error handler hook-up.
void PrepareApplication();
