// UTIL_ENCODE against OpenSSL's DES_ecb_encrypt. With one key the cache holds
// the schedule, which matches OpenSSL's use of a key schedule set up once;
// with a new key per block both compute the schedule every time.
#include <benchmark/benchmark.h>
#include <openssl/des.h>

#include <cstdint>
#include <cstring>

#include <zeb/cipher/des.h>

namespace {

constexpr uint8_t kKey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

using Block = uint8_t[8];  // the same type as OpenSSL's DES_cblock

// Times `encrypt` on one block, each call encrypting the previous result in
// place, as ECB over a run of blocks does.
template <typename Encrypt>
void time_blocks(benchmark::State& state, Encrypt encrypt) {
  Block block = {0x4E, 0x6F, 0x77, 0x20, 0x69, 0x73, 0x20, 0x74};
  for (auto _ : state) {
    encrypt(block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(state.iterations() * 8);
}

void BM_UtilEncode(benchmark::State& state) {
  DesKeyCache cache{};
  time_blocks(state, [&](Block& block) { UTIL_ENCODE(block, kKey, &cache); });
}

void BM_OpenSslEcbEncrypt(benchmark::State& state) {
  DES_cblock key;
  std::memcpy(key, kKey, 8);
  DES_key_schedule ks;
  DES_set_key_unchecked(&key, &ks);
  time_blocks(state, [&](Block& block) { DES_ecb_encrypt(&block, &block, &ks, DES_ENCRYPT); });
}

void BM_UtilEncodeNewKeyEachBlock(benchmark::State& state) {
  DesKeyCache cache{};
  uint8_t key[8];
  std::memcpy(key, kKey, 8);
  time_blocks(state, [&](Block& block) {
    key[0] = static_cast<uint8_t>(key[0] + 2);  // a new key every time
    UTIL_ENCODE(block, key, &cache);
  });
}

void BM_OpenSslNewKeyEachBlock(benchmark::State& state) {
  DES_cblock key;
  std::memcpy(key, kKey, 8);
  time_blocks(state, [&](Block& block) {
    key[0] = static_cast<uint8_t>(key[0] + 2);
    DES_key_schedule ks;
    DES_set_key_unchecked(&key, &ks);
    DES_ecb_encrypt(&block, &block, &ks, DES_ENCRYPT);
  });
}

}  // namespace

BENCHMARK(BM_UtilEncode);
BENCHMARK(BM_OpenSslEcbEncrypt);
BENCHMARK(BM_UtilEncodeNewKeyEachBlock);
BENCHMARK(BM_OpenSslNewKeyEachBlock);
