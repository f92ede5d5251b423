// The definitions are public: they live in the installed header quorin/simage.h.
#pragma once
#include "quorin/simage.h"
