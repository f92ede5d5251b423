// The definitions are public: they live in the installed header quorin/geometry.h.
#pragma once
#include "quorin/geometry.h"
