// Whether Qt Multimedia can play clips on this computer. Qt 6.4 gives no
// way to ask: a QMediaPlayer made without a back end ends the program (no
// back end plugin) or crashes (GStreamer without its plugins). So the
// Video window asks GStreamer itself, before it makes a player.
#pragma once

#include <QString>

// Empty when a player can be made; else why not, for the user to read.
QString MediaBackEndMissing();
