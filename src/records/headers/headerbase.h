// The definitions are public: they live in the installed header quorin/headerbase.h.
#pragma once
#include "quorin/headerbase.h"
