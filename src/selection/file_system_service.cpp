#include "selection/file_system_service.h"
