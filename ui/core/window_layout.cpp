#include "ui/core/window_layout.h"

#include <algorithm>
#include <cassert>

#include "pklfix_version.h"

namespace pklfix {
namespace {

constexpr Rgb kBlue = {0, 0, 255};
constexpr Rgb kGrey = {192, 192, 192};

// clang-format off
constexpr std::array<ControlSpec, 12> kControls = {{
  // control           name        kind                      place          left   top   width height order caption
  {Control::Label2,   "Label2",   ControlKind::Label,         Place::Window, {120,   120, 5775,  375},  0, "Correct *.pkl made by Spectrane",
   FontSpec{"Times New Roman", 18, true, true}, kBlue, std::nullopt},
  {Control::Label3,   "Label3",   ControlKind::Label,         Place::Window, {5040,  600,  975,  255},  1, "ver. " PKLFIX_VERSION,
   FontSpec{"MS PGothic", 9, true, false}, std::nullopt, std::nullopt},
  {Control::SSTab1,   "SSTab1",   ControlKind::TabControl,    Place::Window, {120,  1080, 5775, 4095},  4, "",
   kTabFont, std::nullopt, std::nullopt},
  {Control::Drive2,   "Drive2",   ControlKind::DriveChooser,  Place::Tab1,   {360,   960, 2175,  300},  5, "",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::Dir2,     "Dir2",     ControlKind::FolderChooser, Place::Tab1,   {360,  1320, 2175, 1980}, 10, "",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::File2,    "File2",    ControlKind::FileList,      Place::Tab1,   {3000,  960, 2295, 2430},  6, "",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::Command2, "Command2", ControlKind::Button,        Place::Tab1,   {3000, 3480, 2295,  255},  7, "all",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::Drive3,   "Drive3",   ControlKind::DriveChooser,  Place::Tab2,   {360,   960, 2175,  300},  8, "",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::Dir3,     "Dir3",     ControlKind::FolderChooser, Place::Tab2,   {360,  1320, 2175, 1770}, 11, "",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::File3,    "File3",    ControlKind::FileList,      Place::Tab2,   {3000,  960, 2295, 2250},  9, "",
   std::nullopt, std::nullopt, kGrey},
  {Control::Command1, "Command1", ControlKind::Button,        Place::Window, {1680, 5520, 1095,  495},  3, "GO",
   std::nullopt, std::nullopt, std::nullopt},
  {Control::Command3, "Command3", ControlKind::Button,        Place::Window, {3000, 5640,  852,  375},  2, "cancel",
   FontSpec{"MS PGothic", 10.5, true, false}, std::nullopt, std::nullopt},
}};
// clang-format on

constexpr bool inEnumOrder() {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (static_cast<std::size_t>(kControls[i].control) != i) return false;
  }
  return true;
}
static_assert(inEnumOrder(), "controlSpec() indexes the table by Control");

}  // namespace

const std::array<ControlSpec, 12>& controlSpecs() { return kControls; }

const ControlSpec& controlSpec(Control control) {
  return kControls[static_cast<std::size_t>(control)];
}

std::array<Control, 10> tabOrder() {
  std::array<const ControlSpec*, 12> byOrder;
  std::transform(kControls.begin(), kControls.end(), byOrder.begin(),
                 [](const ControlSpec& layout) { return &layout; });
  std::sort(byOrder.begin(), byOrder.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tabOrder < b->tabOrder; });
  std::array<Control, 10> order{};
  std::size_t n = 0;
  for (const ControlSpec* layout : byOrder) {
    if (layout->kind == ControlKind::Label) continue;
    assert(n < order.size());
    order[n++] = layout->control;
  }
  return order;
}

int nextTab(int shown, bool backwards) {
  const int count = static_cast<int>(kTabCaptions.size());
  return (shown + (backwards ? count - 1 : 1)) % count;
}

int twipsToPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

}  // namespace pklfix
