// The definitions are public: they live in the installed header quorin/uid.h.
#pragma once
#include "quorin/uid.h"
