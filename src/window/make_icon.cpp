// Writes the program's .ico file (for the Windows resource), or the picture at one size as a PNG
// (for the icon theme), from the drawing in artwork.cpp.
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "window/artwork.h"

int main(int argc, char** argv) {
  const int size = argc == 3 ? std::atoi(argv[2]) : 0;
  if (argc < 2 || argc > 3 || (argc == 3 && (size < 1 || size > 1024))) {
    std::fprintf(stderr,
                 "usage: drovanta-make-icon OUTPUT.ico\n"
                 "       drovanta-make-icon OUTPUT.png SIZE\n");
    return 2;
  }
  // Drawing into images needs no display, so no application object is made.
  const QString path = QString::fromLocal8Bit(argv[1]);
  QFile out(path);
  const bool written =
      argc == 3 ? drovanta::DrawProgramPicture(size).save(path, "PNG")
                : out.open(QIODevice::WriteOnly) && out.write(drovanta::ProgramIconFile()) >= 0;
  if (!written) {
    std::fprintf(stderr, "%s: cannot write the icon\n", argv[1]);
    return 1;
  }
  return 0;
}
