#pragma once
// Operations that the launch, the termination and the menus call, whose real work is not written yet.
// Each is a free function of its own, so that each can be replaced on its own: delete its lines here and
// in ZRNPendingOperations.cpp and include the real header.
//
// Nothing is pending now; the preferences window and the updater are in app/ZRNAppPreferences.h.

#include <QString>
#include <QUrl>

class ZRNAppDelegate;

// The preferences window and the updater.
#include "app/ZRNAppPreferences.h"
