// The definitions are public: they live in the installed header quorin/header.h.
#pragma once
#include "quorin/header.h"
