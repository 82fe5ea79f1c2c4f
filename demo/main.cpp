// The demonstration program: the main window, shown maximised; closing it ends the program.
#include "connection/norvapplication.h"
#include "u_main.h"

int main(int argc, char** argv) {
  NorvApplication app(argc, argv);
  Tf_main f_main;
  f_main.showMaximized();
  return app.exec();
}
