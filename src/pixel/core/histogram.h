// The definitions are public: they live in the installed header quorin/histogram.h.
#pragma once
#include "quorin/histogram.h"
