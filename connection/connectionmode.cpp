#include "connection/connectionmode.h"
