// Marks the functions and classes that libquorin.so exports to other programs.
#pragma once

#define QUORIN_EXPORT __attribute__((visibility("default")))
