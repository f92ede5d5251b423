// The definitions are public: they live in the installed header quorin/equipment.h.
#pragma once
#include "quorin/equipment.h"
