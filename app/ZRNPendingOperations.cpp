#include "app/ZRNPendingOperations.h"

#include "app/ZRNAppDelegate.h"

