// Brontel: a NAVTEX receiver and decoder. Its only option is --version.
#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "brontel/version.h"

int main(int argc, char** argv)
{
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts("brontel " BRONTEL_VERSION_STRING);
    return 0;
  }
  return brontel::RunBrontel(argc, argv);
}
