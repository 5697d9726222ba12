#include "platform/Version.h"
