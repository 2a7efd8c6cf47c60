#include "window/window_layout.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <string_view>

namespace drovanta {

int TwipsToPixels(int twips, double dotsPerInch) {
  return static_cast<int>(std::lround(twips * dotsPerInch / 1440.0));
}

int TwipsToPixels(int twips) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return TwipsToPixels(twips, screen ? screen->logicalDotsPerInch() : 96.0);
}

namespace {

using K = ControlKind;
using F = ControlFont;
constexpr Rgb kWhite = rgb(255, 255, 255);
constexpr Rgb kSilver = rgb(192, 192, 192);
constexpr Rgb kBlack = rgb(0, 0, 0);

// clang-format off
constexpr std::array kControls = {
  ControlEntry{"Shape2", K::Rectangle, nullptr, -120, 0, 8415, 855, "", F::None, kNoColour, kWhite, kSilver},
  ControlEntry{"Shape1", K::Rectangle, nullptr, -120, 5640, 8415, 855, "", F::None, kNoColour, kWhite, kSilver},
  ControlEntry{"lblTitle", K::Label, nullptr, 240, 120, 7695, 375, kApplicationTitle, F::Title, kBlack, kWhite},
  ControlEntry{"lblCopyright", K::Label, nullptr, 240, 480, 6135, 255,
              "Copyright (c) 2026 Drovanta. Free to use and share.", F::Regular, kBlack, kWhite},
  ControlEntry{"cmdAdd", K::Button, nullptr, 240, 960, 1815, 375, "Add EMLX File(s)...", F::Regular},
  ControlEntry{"CmdAddFolder", K::Button, nullptr, 2400, 960, 2775, 375, "Add Folder having EMLX File(s)...", F::Regular},
  ControlEntry{"cmdClear1", K::Button, nullptr, 6240, 960, 1695, 375, "Clear File(s)...", F::Regular},
  ControlEntry{"lblCount1", K::Label, nullptr, 270, 1560, 7695, 255, "0 files", F::Regular},
  ControlEntry{"grdFiles1", K::Grid, nullptr, 240, 1800, 7695, 1575, "", F::Regular},
  ControlEntry{"Label4", K::Label, nullptr, 240, 3480, 2535, 255, "Converting Messages...", F::Regular, kNoColour, kNoColour, kNoColour, true},
  ControlEntry{"Image1", K::Picture, nullptr, 240, 3720, 240, 240, "", F::None},
  ControlEntry{"LblProgessCurrent", K::Label, nullptr, 600, 3720, 7335, 255, "Message 0 (of 0)", F::Window, kBlack, kNoColour, kNoColour, true},
  ControlEntry{"Label3", K::Label, nullptr, 240, 3960, 1815, 255, "Message Status     :", F::Bold, rgb(128, 0, 0), kNoColour, kNoColour, true},
  ControlEntry{"EmlProgress", K::ProgressBar, nullptr, 1920, 3960, 6015, 255, "", F::None},
  ControlEntry{"Label1", K::Label, nullptr, 1920, 4250, 735, 255, "Saving : ", F::Window, kNoColour, kNoColour, kNoColour, true},
  ControlEntry{"LblByteRead", K::Label, nullptr, 2640, 4250, 5295, 255, "<  Not Available >", F::Window, rgb(0, 0, 255), kNoColour, kNoColour, true},
  ControlEntry{"Label2", K::Label, nullptr, 240, 4560, 1695, 255, "Conversion Progress : ", F::Window, kNoColour, kNoColour, kNoColour, true},
  ControlEntry{"ProgressBar1", K::ProgressBar, nullptr, 1920, 4560, 6015, 255, "", F::None},
  ControlEntry{"CmdConvert2PDF", K::Button, nullptr, 2760, 5040, 2655, 435, "Convert to MBOX File(s)", F::Regular, kNoColour, kNoColour, kNoColour, false, false},
  ControlEntry{"Picture3", K::Panel, nullptr, 120, 5760, 7935, 495, "", F::None, kNoColour, kWhite},
  ControlEntry{"CmdHelp", K::Button, "Picture3", 0, 0, 1695, 375, "&Help Manual", F::Regular},
  // Between Help Manual and Exit, one above the other: side by side they do not fit the gap.
  ControlEntry{"chkAppleNames", K::CheckBox, "Picture3", 1815, 0, 2490, 240, "Apple Mail mailbox names", F::Regular},
  ControlEntry{"chkKeepState", K::CheckBox, "Picture3", 1815, 255, 2490, 240, "Keep read and flagged state", F::Regular},
  // The mail program the mailboxes are made for, beside the check boxes.
  ControlEntry{"lblFor", K::Label, "Picture3", 4335, 75, 315, 255, "For:", F::Regular, kNoColour, kNoColour, kNoColour, true},
  ControlEntry{"cboMailProgram", K::ComboBox, "Picture3", 4650, 30, 1800, 375, "Any mail program|Thunderbird|Apple Mail", F::Regular},
  ControlEntry{"cmdEnd", K::Button, "Picture3", 6480, 0, 1335, 375, "E&xit", F::Regular},
};
// clang-format on

// Row by row, each from left to right.
constexpr std::array<const char*, 10> kFocusOrder = {
    "cmdAdd",  "CmdAddFolder",  "cmdClear1",    "grdFiles1",      "CmdConvert2PDF",
    "CmdHelp", "chkAppleNames", "chkKeepState", "cboMailProgram", "cmdEnd"};

struct NamedAnchors {
  const char* name;
  ControlAnchors anchors;
};

using A = Anchor;
constexpr std::array kAnchors = {
    NamedAnchors{"Shape2", {A::Stretch, A::Near}},
    NamedAnchors{"Shape1", {A::Stretch, A::Far}},
    NamedAnchors{"lblTitle", {A::Stretch, A::Near}},
    NamedAnchors{"cmdClear1", {A::Far, A::Near}},
    NamedAnchors{"lblCount1", {A::Stretch, A::Near}},
    NamedAnchors{"grdFiles1", {A::Stretch, A::Stretch}},
    NamedAnchors{"Label4", {A::Near, A::Far}},
    NamedAnchors{"Image1", {A::Near, A::Far}},
    NamedAnchors{"LblProgessCurrent", {A::Stretch, A::Far}},
    NamedAnchors{"Label3", {A::Near, A::Far}},
    NamedAnchors{"EmlProgress", {A::Stretch, A::Far}},
    NamedAnchors{"Label1", {A::Near, A::Far}},
    NamedAnchors{"LblByteRead", {A::Stretch, A::Far}},
    NamedAnchors{"Label2", {A::Near, A::Far}},
    NamedAnchors{"ProgressBar1", {A::Stretch, A::Far}},
    NamedAnchors{"CmdConvert2PDF", {A::Centre, A::Far}},
    NamedAnchors{"Picture3", {A::Stretch, A::Far}},
    // Within Picture3: Help Manual gives up the room a narrower window lacks, everything
    // right of it moves along, so no two of them overlap.
    NamedAnchors{"CmdHelp", {A::Stretch, A::Near}},
    NamedAnchors{"chkAppleNames", {A::Far, A::Near}},
    NamedAnchors{"chkKeepState", {A::Far, A::Near}},
    NamedAnchors{"lblFor", {A::Far, A::Near}},
    NamedAnchors{"cboMailProgram", {A::Far, A::Near}},
    NamedAnchors{"cmdEnd", {A::Far, A::Near}},
};

}  // namespace

bool InTitleBand(const char* name) {
  for (const char* inBand : {"Shape2", "lblTitle", "lblCopyright"}) {
    if (std::string_view(inBand) == name) return true;
  }
  return false;
}

ControlAnchors AnchorsOf(const char* name) {
  for (const NamedAnchors& entry : kAnchors) {
    if (std::string_view(entry.name) == name) return entry.anchors;
  }
  return {};
}

std::span<const ControlEntry> MainWindowControls() {
  return kControls;
}

std::span<const char* const> MainWindowFocusOrder() {
  return kFocusOrder;
}

}  // namespace drovanta
