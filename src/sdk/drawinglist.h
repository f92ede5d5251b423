// The definitions are public: they live in the installed header quorin/drawinglist.h.
#pragma once
#include "quorin/drawinglist.h"
