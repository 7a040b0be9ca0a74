#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdlib>

#include "engine/record/sha256.h"

namespace pklfix {
namespace {

constexpr ULONG kDigestBytes = 32;

// Fails only when the system's crypto provider is missing or out of
// memory; a record with a wrong digest would be worse than no program.
void check(NTSTATUS status) {
  if (!BCRYPT_SUCCESS(status)) std::abort();
}

// Opened once: opening the provider is the slow part, and its handle may
// be shared by hashes on several threads.
BCRYPT_ALG_HANDLE algorithm() {
  static BCRYPT_ALG_HANDLE handle = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    check(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    return opened;
  }();
  return handle;
}

}  // namespace

struct Sha256::State {
  State() { start(); }
  ~State() { BCryptDestroyHash(hash); }
  void start() { check(BCryptCreateHash(algorithm(), &hash, nullptr, 0, nullptr, 0, 0)); }

  BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
  // BCryptHashData takes a ULONG count.
  while (!bytes.empty()) {
    const ULONG size = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
    check(BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                         size, 0));
    bytes.remove_prefix(size);
  }
}

std::string Sha256::finish() {
  UCHAR digest[kDigestBytes];
  check(BCryptFinishHash(state_->hash, digest, kDigestBytes, 0));
  BCryptDestroyHash(state_->hash);
  state_->start();
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (UCHAR byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 15];
  }
  return text;
}

}  // namespace pklfix
