// The definitions are public: they live in the installed header quorin/basicpreview.h.
#pragma once
#include "quorin/basicpreview.h"
