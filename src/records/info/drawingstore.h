// The definitions are public: they live in the installed header quorin/drawingstore.h.
#pragma once
#include "quorin/drawingstore.h"
