// The definitions are public: they live in the installed header quorin/matrix.h.
#pragma once
#include "quorin/matrix.h"
