// Velotrax: measures how fast an arcade emulator runs here and compares it with other computers.
#include "ui/application.h"

int main(int argc, char** argv) {
  velotrax::TApplication app(argc, argv);
  velotrax::CreateForms();
  // Set by the start-up benchmark, which times the program up to its visible main window.
  if (qEnvironmentVariableIsSet("VELOTRAX_EXIT_ONCE_SHOWN")) velotrax::ExitOnceShown();
  velotrax::ShowMainForm();
  app.exec();
  velotrax::DestroyForms();
  return 0;
}
