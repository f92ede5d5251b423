// The definitions are public: they live in the installed header quorin/datetime.h.
#pragma once
#include "quorin/datetime.h"
