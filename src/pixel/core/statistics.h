// CImgStatistic with the containers its functions take and return.
#pragma once

#include "pixel/core/histogram.h"
#include "pixel/core/matrix.h"
#include "pixel/core/vector.h"
#include "quorin/statistics.h"
