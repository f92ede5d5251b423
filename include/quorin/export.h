// Marks the functions and classes that libquorin.so exports to other programs.
#pragma once

#define QUORIN_EXPORT __attribute__((visibility("default")))

// The installed classes hold std::string and std::vector members laid out as the library was
// built; libstdc++'s debug mode lays them out otherwise, and a program built with it would free
// what the library never allocated.
#ifdef _GLIBCXX_DEBUG
#error \
    "quorin's classes cannot be used with _GLIBCXX_DEBUG, which changes the layout of std::string and std::vector; _GLIBCXX_ASSERTIONS checks them without"
#endif
