// Brontel: a NAVTEX receiver and decoder. Takes no command-line arguments.
#include "app/application.h"

int main(int argc, char** argv) { return brontel::RunBrontel(argc, argv); }
