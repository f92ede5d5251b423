// Message boxes: a notice goes to a handler the host installs; the default writes one line to
// stderr. Never blocks.
#pragma once
#include <functional>
#include <string_view>

namespace win {

using NotifyHandler = std::function<void(std::string_view caption, std::string_view text)>;

void Notify(std::string_view caption, std::string_view text);
NotifyHandler SetNotifyHandler(
    NotifyHandler handler);  // returns the previous one; null restores the default

}  // namespace win
