// Marks the functions that the shared library exports.
#pragma once
#define QUORIN_EXPORT __attribute__((visibility("default")))
