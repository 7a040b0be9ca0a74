#ifndef UI_CORE_WINDOW_LAYOUT_H_
#define UI_CORE_WINDOW_LAYOUT_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pklfix {

// The window's controls, named as on screen. In the names of the drive
// choosers, folder choosers and file lists the number tells the side a
// control serves: 2 the result files, 3 the spectra. The other numbers only
// tell controls of a kind apart: Command1 is "GO", Command2 "all" and
// Command3 "cancel"; Label2 is the title, Label3 the version; SSTab1 is the
// one tab control.
enum class Control {
  Label2,
  Label3,
  SSTab1,
  Drive2,
  Dir2,
  File2,
  Command2,
  Drive3,
  Dir3,
  File3,
  Command1,
  Command3,
};

enum class ControlKind { Label, TabControl, DriveChooser, FolderChooser, FileList, Button };

// Where a control sits: on the window itself, or on one page of SSTab1.
enum class Place { Window, Tab1, Tab2 };

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

struct FontSpec {
  std::string_view family;
  double points = 0;
  bool bold = false;
  bool italic = false;
};

// A rectangle in twips (1440 to the inch, 15 to a pixel at 96 dpi), from the
// window's client area, or from the tab control's corner for a control on a
// tab, tab strip included.
struct TwipsRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct ControlSpec {
  Control control;
  std::string_view name;
  ControlKind kind;
  Place place;
  TwipsRect rect;
  int tabOrder;                   // keyboard order, 0 first; labels take no focus
  std::string_view caption;       // a label's or button's text; empty for the others
  std::optional<FontSpec> font;   // unset: the face's usual font for its kind
  std::optional<Rgb> textColour;  // unset: the face's usual colour
  std::optional<Rgb> background;  // unset: the face's usual colour
};

// The window itself.
struct WindowSpec {
  std::string_view caption;
  int clientWidth;   // twips
  int clientHeight;  // twips
  Rgb background;
};

inline constexpr WindowSpec kWindowSpec = {"Correction of *.pkl", 6030, 6210, {128, 255, 128}};

// The captions of SSTab1's two tabs, in order, and their font.
inline constexpr std::array<std::string_view, 2> kTabCaptions = {"Select *.pkl",
                                                                 "Select folder for *.chn"};
inline constexpr FontSpec kTabFont = {"Tahoma", 9.75, false, false};

// The tab Ctrl+Tab shows after tab `shown`, or Ctrl+Shift+Tab when
// `backwards`: round the tabs, the last one followed by the first.
int nextTab(int shown, bool backwards);

// Every control of the window, in the order of the Control enum.
const std::array<ControlSpec, 12>& controlSpecs();
const ControlSpec& controlSpec(Control control);

// The controls that take the keyboard focus, in tab order.
std::array<Control, 10> tabOrder();

// Twips to device pixels at `dpi` dots per inch, rounded to the nearest.
int twipsToPixels(int twips, int dpi);

}  // namespace pklfix

#endif  // UI_CORE_WINDOW_LAYOUT_H_
