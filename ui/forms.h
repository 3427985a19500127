// The program's four windows, each reachable from anywhere through one program-wide reference.
// Null before CreateForms and after DestroyForms.
#pragma once

namespace velotrax {

class TForm1;
class TForm2;
class TForm3;
class TForm4;

extern TForm1* Form1;  // main window
extern TForm2* Form2;  // Preferences
extern TForm3* Form3;  // Disclaimer
extern TForm4* Form4;  // About

}  // namespace velotrax
