// The definitions are public: they live in the installed header quorin/vector.h.
#pragma once
#include "quorin/vector.h"
