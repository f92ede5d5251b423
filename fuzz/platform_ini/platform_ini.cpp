// Fuzzes INI reading through the profile API: any file content gives answers that stay inside
// the buffer, end in NUL, and report their length truthfully.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/files/ini.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

const std::string& ScratchFile() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern =
            std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/quorin-ini-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        Check(fd >= 0);
        close(fd);
        return pattern;
    }();
    return path;
}

void CheckAnswer(const char* section, const char* key, win::DWORD size) {
    char buffer[80];
    std::memset(buffer, 0x5A, sizeof buffer);
    const win::DWORD n =
        win::GetPrivateProfileStringA(section, key, "dflt", buffer, size, ScratchFile().c_str());
    Check(size == 0 ? n == 0 : n < size);
    if (size > 0) Check(buffer[n] == '\0');
    if (size > 0 && (section == nullptr || key == nullptr) && n > 0)
        Check(buffer[n - 1] == '\0' || n == size - 2);
    for (std::size_t i = size; i < sizeof buffer; ++i) Check(buffer[i] == 0x5A);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(ScratchFile().c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    for (win::DWORD bufferSize : {0u, 1u, 2u, 7u, 64u}) {
        CheckAnswer("CR Filter", "Gamma", bufferSize);
        CheckAnswer("a", "b", bufferSize);
        CheckAnswer("a", nullptr, bufferSize);
        CheckAnswer(nullptr, nullptr, bufferSize);
    }
    (void)win::GetPrivateProfileIntA("CR Filter", "Level", -1, ScratchFile().c_str());
    (void)win::GetPrivateProfileIntA("a", "b", 5, ScratchFile().c_str());
    // Written anew for each input: nothing stays behind between inputs or after the process.
    std::remove(ScratchFile().c_str());
    return 0;
}
