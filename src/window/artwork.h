#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace drovanta {

// The program's picture, drawn at any size from this one description: a letter going into a
// mailbox tray. Transparent around the drawing.
QImage DrawProgramPicture(int size);

// The window icon: 16, 24, 32 and 48 pixels at 8 bits per pixel and 16, 24, 32, 48 and 256 at
// 32 bits per pixel.
struct IconImage {
  int size;
  int bitsPerPixel;
};
inline constexpr IconImage kIconImages[] = {{16, 8},  {24, 8},  {32, 8},  {48, 8},  {16, 32},
                                            {24, 32}, {32, 32}, {48, 32}, {256, 32}};
QImage IconImageFor(const IconImage& image);
QIcon ProgramIcon();

// The nine images as one Windows .ico file (PNG-compressed entries).
QByteArray ProgramIconFile();

}  // namespace drovanta
