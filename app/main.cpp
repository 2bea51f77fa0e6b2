#include "app/config_app.h"

int main(int argc, char** argv) {
  CConfigApp app(argc, argv);
  return app.InitInstance();
}
