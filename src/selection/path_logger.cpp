#include "selection/path_logger.h"
