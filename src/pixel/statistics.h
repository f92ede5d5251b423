// CImgStatistic with the containers its functions take and return.
#pragma once

#include "pixel/histogram.h"
#include "pixel/matrix.h"
#include "pixel/vector.h"
#include "quorin/statistics.h"
