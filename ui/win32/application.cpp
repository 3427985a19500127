#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "ui/win32/forms.h"
#include "ui/win32/guard.h"
#include "ui/win32/main_window.h"
#include "ui/win32/preferences_dialog.h"
#include "ui/win32/text_windows.h"

namespace velotrax::win32ui {

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;

void CreateForms() {
  Form1 = new TForm1;
  Form2 = new TForm2(Form1->State(), Form1->Handle());
  Form3 = new TForm3;
  Form4 = new TForm4(Form1->Handle());
}

void DestroyForms() {
  delete Form4;
  Form4 = nullptr;
  delete Form3;
  Form3 = nullptr;
  delete Form2;
  Form2 = nullptr;
  delete Form1;
  Form1 = nullptr;
}

}  // namespace velotrax::win32ui

// Velotrax: measures how fast an arcade emulator runs here and compares it with other computers.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  using namespace velotrax::win32ui;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES |
                                                      ICC_TAB_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  int exit_code = 0;
  try {
    CreateForms();
    Form1->ShowFirstTime();
    exit_code = RunMessageLoop(Form1->Handle(), Form1->Accelerators());
  } catch (...) {
    // Making the windows failed: nothing can go on, but the user hears why.
    ReportException(std::current_exception());
    exit_code = 1;
  }
  DestroyForms();
  return exit_code;
}
