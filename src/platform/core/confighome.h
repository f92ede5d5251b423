// Where per-user settings live: ${XDG_CONFIG_HOME:-$HOME/.config}, the user database's home
// folder when HOME is unset. Read from the environment on every call (tests change it).
#pragma once
#include <string>

namespace quorin {

std::string ConfigHome();
std::string EnvOrEmpty(const char* name);  // "" when unset

}  // namespace quorin
