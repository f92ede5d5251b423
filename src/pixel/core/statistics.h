// CImgStatistic with the containers its functions take and return.
#pragma once

#include <quorin/histogram.h>
#include <quorin/matrix.h>
#include <quorin/statistics.h>
#include <quorin/vector.h>
