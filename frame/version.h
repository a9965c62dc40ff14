// The plug-in's version: the one place it is written. The version resource,
// the package's name and the trace's first line all take it from here.
#pragma once

#define QUENDRIX_VERSION_MAJOR 1
#define QUENDRIX_VERSION_MINOR 1
#define QUENDRIX_VERSION_PATCH 0
#define QUENDRIX_VERSION_TEXT "1.1.0"
