// The definitions are public: they live in the installed header quorin/somuimage.h.
#pragma once
#include "quorin/somuimage.h"
