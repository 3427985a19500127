// Velotrax: measures how fast an arcade emulator runs here and compares it with other computers.
#include "ui/application.h"

int main(int argc, char** argv) {
  velotrax::TApplication app(argc, argv);
  velotrax::CreateForms();
  velotrax::ShowMainForm();
  app.exec();
  velotrax::DestroyForms();
  return 0;
}
