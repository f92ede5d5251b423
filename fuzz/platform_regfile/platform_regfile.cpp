// Fuzzes the ".reg" text parser: any text loads without harm, the hive answers queries, and a
// hive written back reads again as exactly the same hive with no malformed line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/notify.h"
#include "platform/files/regfile.h"
#include "platform/files/registry.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        win::SetNotifyHandler([](std::string_view, std::string_view) {});
        return true;
    }();
    (void)quiet;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    win::registry::LoadHiveText(0, text);
    for (const char* key : {"Software\\QUORIN\\ZEL", "software", "", "A\\B"}) {
        win::HKEY h = nullptr;
        if (win::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, win::KEY_READ, &h) != win::ERROR_SUCCESS)
            continue;
        for (const char* name : {"MaxHisto", "Name", "", "a"}) {
            win::BYTE buffer[8];
            win::DWORD type = 0, need = 0, have = sizeof buffer;
            if (win::RegQueryValueExA(h, name, nullptr, &type, nullptr, &need) !=
                win::ERROR_SUCCESS)
                continue;
            const long rc = win::RegQueryValueExA(h, name, nullptr, &type, buffer, &have);
            Check(have == need);
            Check(rc == (need <= sizeof buffer ? win::ERROR_SUCCESS
                                               : static_cast<long>(win::ERROR_MORE_DATA)));
        }
        win::RegCloseKey(h);
    }

    quorin::reg::Hive first;
    quorin::reg::ParseRegText(text, "HKEY_CURRENT_USER", first);
    const std::string written = quorin::reg::WriteRegText(first, "HKEY_CURRENT_USER");
    quorin::reg::Hive second;
    const quorin::reg::ParseResult again =
        quorin::reg::ParseRegText(written, "HKEY_CURRENT_USER", second);
    Check(again.malformedLines == 0);
    Check(quorin::reg::WriteRegText(second, "HKEY_CURRENT_USER") == written);
    return 0;
}
