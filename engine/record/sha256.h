#ifndef ENGINE_RECORD_SHA256_H_
#define ENGINE_RECORD_SHA256_H_

#include <memory>
#include <string>
#include <string_view>

namespace pklfix {

// SHA-256 of a stream of bytes, fed as it passes, from the platform's own
// crypto library, so the digests are what sha256sum and Get-FileHash print
// and anyone can check a file against the record.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;

  void update(std::string_view bytes);
  // The digest of everything fed since construction or the last finish(),
  // as 64 lowercase hex digits; starts over afterwards.
  std::string finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pklfix

#endif  // ENGINE_RECORD_SHA256_H_
