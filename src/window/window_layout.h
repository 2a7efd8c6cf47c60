#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace drovanta {

// Twips (1/1440 inch) to pixels at the given logical DPI: 15 twips per pixel at 96 DPI.
int TwipsToPixels(int twips, double dotsPerInch);
// The same at the primary screen's logical DPI; the only place the window reads the DPI.
int TwipsToPixels(int twips);

inline constexpr const char* kApplicationTitle = "Drovanta EMLX to MBOX Converter";
inline constexpr const char* kHelpAddress = "http://www.drovanta.com/emlx-to-mbox.html";

// A grid column's width and a row's height before anything sets them.
inline constexpr int kDefaultColWidth = 960;
inline constexpr int kDefaultRowHeight = 240;
// The width of the list's single column.
inline constexpr int kListColumnWidth = 15000;

inline constexpr int kClientWidth = 8145;
inline constexpr int kClientHeight = 6270;

enum class ControlKind { Rectangle, Label, Button, Grid, Picture, ProgressBar, Panel, CheckBox, ComboBox };
enum class ControlFont { None, Window, Regular, Bold, Title };

// An RGB colour; kNoColour leaves the control's default.
using Rgb = std::int32_t;
inline constexpr Rgb kNoColour = -1;
inline constexpr Rgb rgb(int r, int g, int b) {
  return (r << 16) | (g << 8) | b;
}

struct ControlEntry {
  const char* name;
  ControlKind kind;
  const char* container;         // nullptr: the window itself
  int left, top, width, height;  // twips, relative to the container's client area
  const char* text;  // a combo box's entries, separated by "|"
  ControlFont font;
  Rgb foreColour = kNoColour;
  Rgb backColour = kNoColour;  // for a rectangle: its fill
  Rgb borderColour = kNoColour;
  bool transparent = false;
  bool enabled = true;
};

// Every control of the main window, bottom of the stacking order first.
std::span<const ControlEntry> MainWindowControls();

// The controls that take the keyboard focus, in the order Tab moves through them.
std::span<const char* const> MainWindowFocusOrder();

// Where the fixed layout does not fit the screen, the window can be resized: the list takes the
// room gained or lost, the controls below it move with the bottom edge, and those at the right
// edge move or stretch with it. Near stays, Far moves by the whole change, Centre by half of it.
enum class Anchor { Near, Stretch, Far, Centre };
struct ControlAnchors {
  Anchor horizontal = Anchor::Near;
  Anchor vertical = Anchor::Near;
};
ControlAnchors AnchorsOf(const char* name);

// The smallest client area: the list two rows high, the buttons of the top row apart, and Help
// Manual still wide enough for its text (504 pixels at 96 DPI: a 1280-pixel screen at 250%, less
// a frame).
inline constexpr int kMinimumClientWidth = 7560;
inline constexpr int kMinimumClientHeight = 5310;
// The title band (its frame, the title and the copyright line): a window lower than the
// smallest client area leaves it out, the title bar naming the program still, and every control
// below it moves up, down to this height.
inline constexpr int kTitleBandHeight = 855;
inline constexpr int kCompactClientHeight = kMinimumClientHeight - kTitleBandHeight;
bool InTitleBand(const char* name);

// The list grid's colours.
inline constexpr Rgb kGridCell = rgb(255, 255, 191);
inline constexpr Rgb kGridSelectedCell = rgb(224, 224, 224);
inline constexpr Rgb kGridOutside = rgb(255, 255, 255);
inline constexpr Rgb kGridLines = rgb(192, 192, 192);

}  // namespace drovanta
