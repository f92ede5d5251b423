// The library's own anatomic helper, beside the records of <quorin/anatomy.h>.
#pragma once
#include <quorin/anatomy.h>

#include <cstdint>

// The region number of a panoramic or cephalometric program: its region name in the program
// table ("Jaw Region" when unknown), then that name's number (1 to 9, 0 for other names).
void AnatomicRegionFromProgram(std::int32_t program, std::int32_t& number);
