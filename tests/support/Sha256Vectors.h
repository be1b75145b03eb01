#pragma once
// Inputs with their SHA-256 as published (FIPS 180-2 examples) or as any
// sha256sum gives it, for the tests of Sha256Hex on each platform.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace veltra::testing {

struct Sha256Vector {
    const char* what;
    std::string input;
    const char* hex;
};

inline std::vector<Sha256Vector> Sha256Vectors() {
    std::string everyByte;
    for (int i = 0; i < 256; ++i) everyByte += static_cast<char>(i);
    return {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"every byte value once", everyByte, "40aff2e9d2d8922e47afd4648e6967497158785fbd1da870e7110266bf944880"},
        {"a million 'a'", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
}

inline std::span<const std::uint8_t> BytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Every vector through `hash` (the program's Sha256Hex, on each platform).
template <typename Hash>
void ExpectPublishedDigests(Hash hash) {
    for (const Sha256Vector& v : Sha256Vectors()) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(hash(BytesOf(v.input)), v.hex);
    }
}

}  // namespace veltra::testing
