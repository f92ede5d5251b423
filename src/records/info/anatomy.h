// The definitions are public: they live in the installed header quorin/anatomy.h.
#pragma once
#include "quorin/anatomy.h"
