// Notices to the user: the host's handler, or one line on stderr.
#include "platform/core/notify.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace win {
namespace {

std::mutex& HandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

NotifyHandler& Handler() {
    static auto* handler = new NotifyHandler;  // outlives static destructors that may notify
    return *handler;
}

void WriteToStderr(std::string_view caption, std::string_view text) {
    // One line: line breaks inside the text become spaces.
    std::string line(caption);
    if (!line.empty()) line += ": ";
    for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void Notify(std::string_view caption, std::string_view text) {
    NotifyHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = Handler();
    }
    // Called outside the lock: a handler may notify again or install another handler.
    if (handler) {
        try {
            handler(caption, text);
            return;
        } catch (...) {
            // A failing handler must not take the caller down; the notice still gets out.
        }
    }
    WriteToStderr(caption, text);
}

NotifyHandler SetNotifyHandler(NotifyHandler handler) {
    std::lock_guard lock(HandlerMutex());
    NotifyHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

}  // namespace win
