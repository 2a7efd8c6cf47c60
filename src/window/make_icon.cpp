// Writes the program's .ico file (for the Windows resource) from the drawing in artwork.cpp.
#include <QFile>
#include <cstdio>

#include "window/artwork.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: drovanta-make-icon OUTPUT.ico\n");
    return 2;
  }
  // Drawing into images needs no display, so no application object is made.
  QFile out(QString::fromLocal8Bit(argv[1]));
  if (!out.open(QIODevice::WriteOnly) || out.write(drovanta::ProgramIconFile()) < 0) {
    std::fprintf(stderr, "%s: cannot write the icon\n", argv[1]);
    return 1;
  }
  return 0;
}
