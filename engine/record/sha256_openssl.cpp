#include <openssl/evp.h>

#include <cstdlib>

#include "engine/record/sha256.h"

namespace pklfix {
namespace {

// The calls below fail only when the library itself is broken or out of
// memory; a record with a wrong digest would be worse than no program.
void check(int ok) {
  if (ok != 1) std::abort();
}

}  // namespace

struct Sha256::State {
  State() : context(EVP_MD_CTX_new()) {
    if (!context) std::abort();
    start();
  }
  ~State() { EVP_MD_CTX_free(context); }
  void start() { check(EVP_DigestInit_ex(context, EVP_sha256(), nullptr)); }

  EVP_MD_CTX* context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
  check(EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()));
}

std::string Sha256::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  check(EVP_DigestFinal_ex(state_->context, digest, &size));
  state_->start();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

}  // namespace pklfix
