// The definitions are public: they live in the installed header quorin/pixeltraits.h.
#pragma once
#include "quorin/pixeltraits.h"
