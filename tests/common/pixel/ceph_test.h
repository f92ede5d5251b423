// Helpers of the cephalometric suites: raw records and images from pixel lists, the numpy
// references of tools/fixtures/ceph_ref.py, registry values for the lens settings.
#pragma once
#include <gtest/gtest.h>
#include <quorin/simage.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/reference_folder.h"
#include "platform/files/registry.h"

namespace cephtest {

// A 16- or 32-bit record of width x height holding `pixels` (zeros when empty).
template <class P>
SImage* MakeRecord(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                   const std::vector<P>& pixels = {}) {
    SImage* record = AllocSImage(width, height, 1, bits, false, nullptr);
    if (record != nullptr && !pixels.empty())
        std::memcpy(record->pPixels, pixels.data(), pixels.size() * sizeof(P));
    return record;
}

// Deterministic pseudo-random values 0..limit-1.
inline std::vector<std::uint16_t> Noise(std::size_t count, std::uint32_t limit,
                                        std::uint32_t seed = 7) {
    std::vector<std::uint16_t> v(count);
    for (auto& x : v) {
        seed = seed * 1103515245u + 12345u;
        x = static_cast<std::uint16_t>((seed >> 8) % limit);
    }
    return v;
}

// Runs one check of ceph_ref.py over arrays written into a temporary folder.
class Reference : public quorin::test::ReferenceFolder {
  public:
    Reference() : ReferenceFolder("ceph_ref.py") {}
};

// Stores a value under HKEY_CURRENT_USER\Software\<key>.
inline void SetDword(const char* key, const char* name, std::uint32_t value) {
    win::HKEY h = nullptr;
    const std::string path = std::string("Software\\") + key;
    ASSERT_EQ(win::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, win::KEY_WRITE,
                                   nullptr, &h, nullptr),
              0);
    ASSERT_EQ(win::RegSetValueExA(h, name, 0, win::REG_DWORD,
                                  reinterpret_cast<const win::BYTE*>(&value), 4),
              0);
    win::RegCloseKey(h);
}
inline void SetText(const char* key, const char* name, const char* text) {
    win::HKEY h = nullptr;
    const std::string path = std::string("Software\\") + key;
    ASSERT_EQ(win::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, win::KEY_WRITE,
                                   nullptr, &h, nullptr),
              0);
    ASSERT_EQ(win::RegSetValueExA(h, name, 0, win::REG_SZ, reinterpret_cast<const win::BYTE*>(text),
                                  static_cast<win::DWORD>(std::strlen(text) + 1)),
              0);
    win::RegCloseKey(h);
}

}  // namespace cephtest
