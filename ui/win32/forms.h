// The program's four windows, each reachable from anywhere through one program-wide reference.
// Null before CreateForms and after DestroyForms.
#pragma once

namespace velotrax::win32ui {

class TForm1;
class TForm2;
class TForm3;
class TForm4;

extern TForm1* Form1;  // main window
extern TForm2* Form2;  // Preferences
extern TForm3* Form3;  // Disclaimer
extern TForm4* Form4;  // About

// Creates Form1 to Form4 in this order, all hidden; Form1 runs FormCreate.
void CreateForms();
// Destroys the four windows, the last created first.
void DestroyForms();

}  // namespace velotrax::win32ui
