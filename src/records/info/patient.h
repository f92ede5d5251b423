// The definitions are public: they live in the installed header quorin/patient.h.
#pragma once
#include "quorin/patient.h"
