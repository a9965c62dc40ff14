// The plug-in's version and names: the one place they are written. The
// version resource (plugin/quendrix.rc), CMake's project version, the
// package's name, the trace's first line and the tests take them from here.
// UTF-8; the version resource reads this file as UTF-8.
#pragma once

#define QUENDRIX_VERSION_MAJOR 1
#define QUENDRIX_VERSION_MINOR 2
#define QUENDRIX_VERSION_PATCH 0
#define QUENDRIX_VERSION_TEXT "1.2.0"

// Shown by Windows in the DLL's properties (Details tab).
#define QUENDRIX_PRODUCT_NAME "Quendrix"
#define QUENDRIX_COMPANY_NAME "Zespół Quendrix"
#define QUENDRIX_FILE_DESCRIPTION \
    "Quendrix – wtyczka do programu VELDAN: porównanie WZ z zamówieniem"
