// The definitions are public: they live in the installed header quorin/series.h.
#pragma once
#include "quorin/series.h"
