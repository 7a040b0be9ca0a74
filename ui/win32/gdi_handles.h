#ifndef UI_WIN32_GDI_HANDLES_H_
#define UI_WIN32_GDI_HANDLES_H_

#include <windows.h>

#include <utility>

namespace pklfix::win32 {

// Owns one GDI object (a font, a brush) or icon, and deletes it when it
// goes, so that none is forgotten when fonts are made anew for a new DPI.
template <typename Handle, BOOL(WINAPI* Delete)(Handle)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(Handle handle = nullptr) {
    if (handle_) Delete(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline BOOL WINAPI deleteFont(HFONT font) { return ::DeleteObject(font); }
inline BOOL WINAPI deleteBrush(HBRUSH brush) { return ::DeleteObject(brush); }

using OwnedFont = Owned<HFONT, deleteFont>;
using OwnedBrush = Owned<HBRUSH, deleteBrush>;
using OwnedIcon = Owned<HICON, ::DestroyIcon>;

}  // namespace pklfix::win32

#endif  // UI_WIN32_GDI_HANDLES_H_
